#include "platform/TextCodec.h"

#include <windows.h>

#include <climits>

// wchar_t is UTF-16 here; the conversions are the system's code page tables, which need no
// process locale and are safe on any thread.
namespace LiveModule::platform {
namespace {

UINT CodePageOf(Codeset codeset) {
    switch (codeset) {
    case Codeset::Utf8:
        return CP_UTF8;
    case Codeset::Cp936:
        return 936;
    case Codeset::Ansi:
        break;
    }
    return CP_ACP;
}

}  // namespace

std::optional<std::wstring> DecodeText(Codeset from, std::string_view text, OnBadInput onBad) {
    if (text.empty()) return std::wstring();
    if (text.size() > INT_MAX) return std::nullopt;
    const UINT codePage = CodePageOf(from);
    // Without MB_ERR_INVALID_CHARS undecodable bytes become U+FFFD (or the code page's default).
    const DWORD flags = onBad == OnBadInput::Fail ? MB_ERR_INVALID_CHARS : 0;
    const int inLength = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, flags, text.data(), inLength, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(codePage, flags, text.data(), inLength, wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

std::optional<std::string> EncodeText(Codeset to, std::wstring_view text, OnBadInput onBad) {
    if (text.empty()) return std::string();
    if (text.size() > INT_MAX) return std::nullopt;
    const UINT codePage = CodePageOf(to);
    const int inLength = static_cast<int>(text.size());
    const bool utf8 = codePage == CP_UTF8;
    // UTF-8 reports bad input (lone surrogates) through a flag; other code pages through the
    // default character, "?", which they substitute for what they lack.
    const DWORD flags = utf8 && onBad == OnBadInput::Fail ? WC_ERR_INVALID_CHARS : 0;
    BOOL usedDefault = FALSE;
    BOOL* const reportDefault = utf8 ? nullptr : &usedDefault;
    const char* const defaultChar = utf8 ? nullptr : "?";
    const int length = ::WideCharToMultiByte(codePage, flags, text.data(), inLength, nullptr, 0, defaultChar,
                                             reportDefault);
    if (length <= 0 || (usedDefault && onBad == OnBadInput::Fail)) return std::nullopt;
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(codePage, flags, text.data(), inLength, narrow.data(), length, defaultChar,
                              reportDefault) != length) {
        return std::nullopt;
    }
    return narrow;
}

}  // namespace LiveModule::platform
