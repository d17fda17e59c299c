#pragma once

#include <string>

// <windows.h>, when a file included it first, makes LoadLibrary a macro for LoadLibraryA, which would
// rename this function's declaration and calls in that file only (and the call would not link).
#ifdef LoadLibrary
#undef LoadLibrary
#endif

namespace LiveModule::platform {

// Handle of a loaded library; null when nothing is loaded.
using LibraryHandle = void*;

// Loads a library by path (a bare name goes through the system's normal search). On failure returns
// null and puts the system's text for the error into errorText (empty when the system has none).
LibraryHandle LoadLibrary(const std::string& path, std::string* errorText = nullptr);

// Address of an exported symbol, or null.
void* GetLibrarySymbol(LibraryHandle library, const char* name);

void FreeLibrary(LibraryHandle library);

// True when the library at `path` is still loaded in this process, e.g. after FreeLibrary because
// another reference holds it or it cannot be unloaded. Loads nothing. Linux: dlopen(RTLD_NOLOAD);
// Windows: GetModuleHandleA.
bool IsLibraryLoaded(const std::string& path);

// Where a module's dependent libraries are found. Linux has no per-process library directory: module
// libraries find their neighbours through an RPATH of $ORIGIN. The call only records the folder.
void SetLibraryDirectory(const std::string& folder);
std::string GetLibraryDirectory();

}  // namespace LiveModule::platform
