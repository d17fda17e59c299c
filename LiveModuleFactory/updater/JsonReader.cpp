#include "updater/JsonReader.h"

#include <clocale>
#include <cstdlib>
#include <limits>

namespace LiveModule {

namespace {

using Json = nlohmann::json;

constexpr int kMaxDepth = 200;

bool InRange(char c, char low, char high) {
    return c >= low && c <= high;
}

bool IsHexDigit(char c) {
    return InRange(c, '0', '9') || InRange(c, 'a', 'f') || InRange(c, 'A', 'F');
}

void AppendUtf8(long codePoint, std::string& out) {
    if (codePoint < 0) return;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>((codePoint >> 6) | 0xC0);
        out += static_cast<char>((codePoint & 0x3F) | 0x80);
    } else if (codePoint < 0x10000) {
        out += static_cast<char>((codePoint >> 12) | 0xE0);
        out += static_cast<char>(((codePoint >> 6) & 0x3F) | 0x80);
        out += static_cast<char>((codePoint & 0x3F) | 0x80);
    } else {
        out += static_cast<char>((codePoint >> 18) | 0xF0);
        out += static_cast<char>(((codePoint >> 12) & 0x3F) | 0x80);
        out += static_cast<char>(((codePoint >> 6) & 0x3F) | 0x80);
        out += static_cast<char>((codePoint & 0x3F) | 0x80);
    }
}

// A number's text as a double whatever the process locale says a decimal point is.
double ToDouble(const char* text) {
#ifdef _WIN32
    // The C runtime's own spelling of the same per-call locale.
    static const _locale_t cLocale = _create_locale(LC_ALL, "C");
    return cLocale ? _strtod_l(text, nullptr, cLocale) : std::strtod(text, nullptr);
#else
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    return cLocale ? strtod_l(text, nullptr, cLocale) : std::strtod(text, nullptr);
#endif
}

// One pass over the text; the first error stops it. Runs on one thread, holds nothing after it.
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    std::optional<Json> Document() {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;  // a byte order mark some editors write
        Json value;
        if (!Value(0, value)) return std::nullopt;
        SkipWhiteSpace();
        if (at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    // The byte at `at`, or NUL past the end.
    char Peek(std::size_t at) const { return at < text_.size() ? text_[at] : '\0'; }

    void SkipWhiteSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\r' || text_[at_] == '\n' || text_[at_] == '\t')) {
            ++at_;
        }
    }

    // The next byte after white space, consumed; false at the end of the text.
    bool NextToken(char& token) {
        SkipWhiteSpace();
        if (at_ == text_.size()) return false;
        token = text_[at_++];
        return true;
    }

    bool Literal(const char* word, Json value, Json& out) {
        const std::string expected(word);
        --at_;
        if (text_.compare(at_, expected.size(), expected) != 0) return false;
        at_ += expected.size();
        out = std::move(value);
        return true;
    }

    bool Digits() {
        if (!InRange(Peek(at_), '0', '9')) return false;
        while (InRange(Peek(at_), '0', '9')) ++at_;
        return true;
    }

    bool Number(Json& out) {
        const std::size_t start = at_;
        if (Peek(at_) == '-') ++at_;
        if (Peek(at_) == '0') {
            ++at_;
            if (InRange(Peek(at_), '0', '9')) return false;  // no leading zeros
        } else if (!Digits()) {
            return false;
        }
        const char next = Peek(at_);
        if (next != '.' && next != 'e' && next != 'E' && at_ - start <= std::numeric_limits<int>::digits10) {
            out = std::atoi(text_.c_str() + start);
            return true;
        }
        if (next == '.') {
            ++at_;
            if (!Digits()) return false;
        }
        if (Peek(at_) == 'e' || Peek(at_) == 'E') {
            ++at_;
            if (Peek(at_) == '+' || Peek(at_) == '-') ++at_;
            if (!Digits()) return false;
        }
        out = ToDouble(std::string(text_, start, at_ - start).c_str());
        return true;
    }

    bool String(std::string& out) {
        out.clear();
        long pendingEscape = -1;  // a \u code point, held back in case a low surrogate follows
        for (;;) {
            if (at_ == text_.size()) return false;
            char c = text_[at_++];
            if (c == '"') {
                AppendUtf8(pendingEscape, out);
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return false;  // control bytes must be escaped
            if (c != '\\') {
                AppendUtf8(pendingEscape, out);
                pendingEscape = -1;
                out += c;
                continue;
            }
            if (at_ == text_.size()) return false;
            c = text_[at_++];
            if (c == 'u') {
                if (at_ + 4 > text_.size()) return false;
                for (std::size_t i = 0; i < 4; ++i) {
                    if (!IsHexDigit(text_[at_ + i])) return false;
                }
                const long codePoint = std::strtol(std::string(text_, at_, 4).c_str(), nullptr, 16);
                at_ += 4;
                if (pendingEscape >= 0xD800 && pendingEscape <= 0xDBFF && codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
                    AppendUtf8((((pendingEscape - 0xD800) << 10) | (codePoint - 0xDC00)) + 0x10000, out);
                    pendingEscape = -1;
                } else {
                    AppendUtf8(pendingEscape, out);
                    pendingEscape = codePoint;
                }
                continue;
            }
            AppendUtf8(pendingEscape, out);
            pendingEscape = -1;
            switch (c) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '"': case '\\': case '/': out += c; break;
            default: return false;
            }
        }
    }

    bool Object(int depth, Json& out) {
        out = Json::object();
        char token = 0;
        if (!NextToken(token)) return false;
        if (token == '}') return true;
        for (;;) {
            std::string key;
            if (token != '"' || !String(key)) return false;
            if (!NextToken(token) || token != ':') return false;
            Json value;
            if (!Value(depth + 1, value)) return false;
            out[key] = std::move(value);  // a repeated key keeps its last value
            if (!NextToken(token)) return false;
            if (token == '}') return true;
            if (token != ',' || !NextToken(token)) return false;
        }
    }

    bool Array(int depth, Json& out) {
        out = Json::array();
        char token = 0;
        if (!NextToken(token)) return false;
        if (token == ']') return true;
        for (;;) {
            --at_;
            Json element;
            if (!Value(depth + 1, element)) return false;
            out.push_back(std::move(element));
            if (!NextToken(token)) return false;
            if (token == ']') return true;
            if (token != ',' || !NextToken(token)) return false;
        }
    }

    bool Value(int depth, Json& out) {
        char token = 0;
        if (depth > kMaxDepth || !NextToken(token)) return false;
        if (token == '-' || InRange(token, '0', '9')) {
            --at_;
            return Number(out);
        }
        switch (token) {
        case 't': return Literal("true", true, out);
        case 'f': return Literal("false", false, out);
        case 'n': return Literal("null", nullptr, out);
        case '"': {
            std::string text;
            if (!String(text)) return false;
            out = std::move(text);
            return true;
        }
        case '{': return Object(depth, out);
        case '[': return Array(depth, out);
        default: return false;
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<nlohmann::json> ReadJson(const std::string& text) {
    return Reader(text).Document();
}

}  // namespace LiveModule
