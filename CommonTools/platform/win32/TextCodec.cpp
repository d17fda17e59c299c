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
    case Codeset::Utf16Le:  // never asked: converted as wchar_t below, the API has no code page for it
    case Codeset::Ansi:
        break;
    }
    return CP_ACP;
}

bool IsSurrogate(wchar_t unit, wchar_t low) {
    return unit >= low && unit <= low + 0x3FF;
}

// UTF-16LE and this wchar_t are the same code units: only a dangling byte or an unpaired
// surrogate is bad input, and Replace makes each of them U+FFFD.
std::optional<std::wstring> FromUtf16Le(std::string_view bytes, OnBadInput onBad) {
    std::wstring units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    std::wstring wide;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool high = IsSurrogate(units[i], 0xD800);
        const bool paired = high && i + 1 < units.size() && IsSurrogate(units[i + 1], 0xDC00);
        if (paired) {
            wide += units[i];
            wide += units[++i];
        } else if (high || IsSurrogate(units[i], 0xDC00)) {
            if (onBad == OnBadInput::Fail) return std::nullopt;
            wide += L'\xFFFD';
        } else {
            wide += units[i];
        }
    }
    if (bytes.size() % 2 != 0) {
        if (onBad == OnBadInput::Fail) return std::nullopt;
        wide += L'\xFFFD';
    }
    return wide;
}

std::string ToUtf16Le(std::wstring_view text) {
    std::string bytes;
    for (const wchar_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    return bytes;
}

}  // namespace

std::optional<std::wstring> DecodeText(Codeset from, std::string_view text, OnBadInput onBad) {
    if (text.empty()) return std::wstring();
    if (text.size() > INT_MAX) return std::nullopt;
    if (from == Codeset::Utf16Le) return FromUtf16Le(text, onBad);
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
    if (to == Codeset::Utf16Le) return ToUtf16Le(text);
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
