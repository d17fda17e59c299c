#pragma once

#include <string>

// Conversions between the system's three text encodings: ANSI (the system's narrow encoding, used
// for paths), UTF-8, and wide text. None of them reports errors: a failed conversion gives empty
// text. All are safe to call from several threads at once.
namespace LiveModule {

// Both read the input up to its first NUL. Characters ANSI cannot represent become "?".
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

// Converts all of the input and returns the text up to its first NUL.
std::wstring AnsiToWide(const std::string& ansi);

// Code page 936 (Chinese Simplified), whatever the system's encoding. Both read the input up to
// its first NUL. Invalid input, or any character code page 936 lacks, gives empty text.
std::wstring ChsToWide(const std::string& chs);
std::string WideToChs(const std::wstring& wide);

}  // namespace LiveModule
