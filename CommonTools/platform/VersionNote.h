#pragma once

// Gives the executable or shared library that uses it a version resource with the product version
// `productVersionLiteral` (a plain string literal), language 0409 and code page 04b0. Use it once,
// at namespace scope, in a source file that is linked in for sure (not one in a static library
// that the linker may leave out).
//
// ELF has no version resources, so this one travels as a note: section ".note.livemodule.version",
// owner "LiveModule", type 1, its descriptor a sequence of NUL-terminated "key=value" strings whose
// keys are the resource paths, backslashes included.
#define LIVEMODULE_VERSION_NOTE(productVersionLiteral)                                           \
    __asm__(".pushsection .note.livemodule.version,\"a\",@note\n"                               \
            ".balign 4\n"                                                                        \
            ".long 2f - 1f\n"                                                                    \
            ".long 4f - 3f\n"                                                                    \
            ".long 1\n"                                                                          \
            "1: .asciz \"LiveModule\"\n"                                                         \
            "2: .balign 4\n"                                                                     \
            "3: .asciz \"\\\\VarFileInfo\\\\Translation=040904b0\"\n"                            \
            ".asciz \"\\\\StringFileInfo\\\\040904b0\\\\ProductVersion=" productVersionLiteral "\"\n" \
            "4: .balign 4\n"                                                                     \
            ".popsection\n")
