#include "platform/ProfileReader.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/TextCodec.h"

namespace LiveModule::platform {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

int LeadingInteger(const std::string& value) {
    long number = std::strtol(value.c_str(), nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

// The file's text in the narrow encoding. Windows reads a file that starts with a UTF-16LE or a
// UTF-8 byte order mark as such; any other file is taken as it is.
std::string ProfileText(std::ifstream& file) {
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        const auto wide = DecodeText(Codeset::Utf16Le, std::string_view(bytes).substr(2), OnBadInput::Replace);
        const auto narrow = wide ? EncodeText(Codeset::Ansi, *wide, OnBadInput::Replace) : std::nullopt;
        return narrow ? *narrow : std::string();
    }
    return bytes;
}

}  // namespace

int GetProfileInt(const std::string& section, const std::string& key, int defaultValue, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return defaultValue;
    std::istringstream text(ProfileText(file));
    std::string line;
    bool inSection = false;
    while (std::getline(text, line)) {
        const std::string content = Trim(line);
        if (content.empty() || content[0] == ';') continue;
        if (content[0] == '[') {
            size_t close = content.find(']');
            inSection = close != std::string::npos && SameName(Trim(content.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        size_t equals = content.find('=');
        if (equals == std::string::npos || !SameName(Trim(content.substr(0, equals)), key)) continue;
        std::string value = Trim(content.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return LeadingInteger(value);
    }
    return defaultValue;
}

}  // namespace LiveModule::platform
