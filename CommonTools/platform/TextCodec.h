#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversions between narrow codesets and wide text (wchar_t). They touch no process-wide state
// and may run on any thread at once.
namespace LiveModule::platform {

enum class Codeset {
    Ansi,   // the system's narrow encoding for paths and most internal text
    Utf8,
    Cp936,  // Chinese Simplified, whatever the system's settings
    Utf16Le,
};

// What a conversion does with input it cannot carry over.
enum class OnBadInput {
    Replace,  // an undecodable byte becomes U+FFFD; a character the target lacks becomes "?"
    Fail,     // the whole conversion fails
};

// Decodes all of `text`, NULs included. nullopt when the conversion fails.
std::optional<std::wstring> DecodeText(Codeset from, std::string_view text, OnBadInput onBad);

// Encodes all of `text`, NULs included. nullopt when the conversion fails.
std::optional<std::string> EncodeText(Codeset to, std::wstring_view text, OnBadInput onBad);

}  // namespace LiveModule::platform
