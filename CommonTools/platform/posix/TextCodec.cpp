#include "platform/TextCodec.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace LiveModule::platform {
namespace {

// wchar_t is UTF-32 in host byte order here; glibc names that "WCHAR_T".
constexpr const char* kWideCodeset = "WCHAR_T";

const char* CodesetName(Codeset codeset) {
    switch (codeset) {
    case Codeset::Utf8:
        return "UTF-8";
    case Codeset::Cp936:
        // A fixed iconv table instead of switching the process locale to a Chinese one, so
        // overlapping calls from several threads cannot disturb each other or the host.
        return "CP936";
    case Codeset::Utf16Le:
        return "UTF-16LE";
    case Codeset::Ansi:
        break;
    }
    // ANSI is the codeset of the process locale, as the host set it with setlocale. The plain
    // C/POSIX locale reports ASCII; Linux file names are bytes and Qt reads local 8-bit text as
    // UTF-8, so that locale counts as UTF-8.
    const char* name = nl_langinfo(CODESET);
    return std::strcmp(name, "ANSI_X3.4-1968") == 0 ? "UTF-8" : name;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Runs iconv over all of `in`. Input it cannot convert fails the call, or, when `replacement` is
// given, is written as `replacement` and skipped `skip` bytes at a time.
bool Convert(const char* to, const char* from, std::string_view in,
             std::optional<std::string_view> replacement, std::size_t skip, std::string& out) {
    const Iconv converter(to, from);
    if (!converter.valid()) return false;
    char* src = const_cast<char*>(in.data());  // iconv takes char** but never writes the input
    std::size_t srcLeft = in.size();
    std::array<char, 1024> chunk;
    for (;;) {
        char* dst = chunk.data();
        std::size_t dstLeft = chunk.size();
        const bool finishing = srcLeft == 0;  // then write the shift sequence back to the initial state
        const std::size_t rc = finishing ? iconv(converter.get(), nullptr, nullptr, &dst, &dstLeft)
                                         : iconv(converter.get(), &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(chunk.data(), dst);
        if (rc != static_cast<std::size_t>(-1)) {
            if (finishing) return true;
            continue;
        }
        if (error == E2BIG) continue;  // chunk full
        if (finishing || (error != EILSEQ && error != EINVAL) || !replacement) return false;
        out.append(*replacement);
        const std::size_t skipped = std::min(skip, srcLeft);
        src += skipped;
        srcLeft -= skipped;
    }
}

// Unicode ends at U+10FFFF, but glibc's UTF-8 decoder still takes the old 4- to 6-byte forms
// beyond it (and encodes such characters back), so they are dealt with here.
constexpr wchar_t kLastCharacter = 0x10FFFF;

// How many bytes the old UTF-8 form of a character beyond U+10FFFF took.
std::size_t OldUtf8Length(wchar_t c) {
    const auto value = static_cast<uint32_t>(c);
    return value < 0x200000 ? 4 : value < 0x4000000 ? 5 : 6;
}

bool BeyondUnicode(wchar_t c) {
    return static_cast<uint32_t>(c) > static_cast<uint32_t>(kLastCharacter);
}

}  // namespace

std::optional<std::wstring> DecodeText(Codeset from, std::string_view text, OnBadInput onBad) {
    // Each undecodable byte becomes one U+FFFD, as the Windows UTF-8 decoder substitutes it.
    constexpr wchar_t kReplacement = L'\uFFFD';
    std::optional<std::string_view> replacement;
    if (onBad == OnBadInput::Replace) {
        replacement.emplace(reinterpret_cast<const char*>(&kReplacement), sizeof kReplacement);
    }
    std::string bytes;
    if (!Convert(kWideCodeset, CodesetName(from), text, replacement, 1, bytes)) {
        return std::nullopt;
    }
    std::wstring decoded(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(decoded.data(), bytes.data(), decoded.size() * sizeof(wchar_t));
    if (std::none_of(decoded.begin(), decoded.end(), BeyondUnicode)) return decoded;
    if (onBad == OnBadInput::Fail) return std::nullopt;
    std::wstring wide;
    for (const wchar_t c : decoded) {
        if (BeyondUnicode(c)) {
            wide.append(OldUtf8Length(c), kReplacement);
        } else {
            wide += c;
        }
    }
    return wide;
}

std::optional<std::string> EncodeText(Codeset to, std::wstring_view text, OnBadInput onBad) {
    // "?" stands for a missing character, as the Windows default character does.
    std::optional<std::string_view> replacement;
    if (onBad == OnBadInput::Replace) replacement.emplace("?");
    std::string out;
    // Characters beyond U+10FFFF exist in no codeset; iconv would write some of them all the same.
    for (;;) {
        const auto beyond = std::find_if(text.begin(), text.end(), BeyondUnicode);
        const std::size_t count = static_cast<std::size_t>(beyond - text.begin());
        const std::string_view bytes(reinterpret_cast<const char*>(text.data()), count * sizeof(wchar_t));
        if (!Convert(CodesetName(to), kWideCodeset, bytes, replacement, sizeof(wchar_t), out)) {
            return std::nullopt;
        }
        if (beyond == text.end()) return out;
        if (!replacement) return std::nullopt;
        out.append(*replacement);
        text.remove_prefix(count + 1);
    }
}

}  // namespace LiveModule::platform
