#include "TextConversion.h"

#include <string_view>

#include "platform/TextCodec.h"

namespace LiveModule {
namespace {

using platform::Codeset;
using platform::OnBadInput;

// Recodes through wide text, as the Windows conversions go through UTF-16.
std::string Recode(Codeset from, Codeset to, const std::string& text) {
    const auto wide = platform::DecodeText(from, std::string_view(text.c_str()), OnBadInput::Replace);
    if (!wide) return {};
    auto narrow = platform::EncodeText(to, *wide, OnBadInput::Replace);
    return narrow ? std::move(*narrow) : std::string();
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    return Recode(Codeset::Ansi, Codeset::Utf8, ansi);
}

std::string Utf8ToAnsi(const std::string& utf8) {
    return Recode(Codeset::Utf8, Codeset::Ansi, utf8);
}

std::wstring AnsiToWide(const std::string& ansi) {
    const auto wide = platform::DecodeText(Codeset::Ansi, ansi, OnBadInput::Replace);
    return wide ? std::wstring(wide->c_str()) : std::wstring();
}

std::wstring ChsToWide(const std::string& chs) {
    // Every character takes at least one byte, so the result always fits the (bytes + 1) wide
    // characters the conversion is allowed.
    const auto wide = platform::DecodeText(Codeset::Cp936, std::string_view(chs.c_str()), OnBadInput::Fail);
    return wide ? std::move(*wide) : std::wstring();
}

std::string WideToChs(const std::wstring& wide) {
    // Code page 936 needs at most 2 bytes for any character it has, and wchar_t holds a whole
    // character here, so the result always fits the (2 x wide length + 1) bytes the conversion is
    // allowed: there is nothing to truncate.
    const auto chs = platform::EncodeText(Codeset::Cp936, std::wstring_view(wide.c_str()), OnBadInput::Fail);
    return chs ? std::move(*chs) : std::string();
}

}  // namespace LiveModule
