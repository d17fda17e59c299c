#include "platform/ProfileReader.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

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

}  // namespace

int GetProfileInt(const std::string& section, const std::string& key, int defaultValue, const std::string& path) {
    std::ifstream file(path);
    if (!file) return defaultValue;
    std::string line;
    bool inSection = false;
    while (std::getline(file, line)) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == ';') continue;
        if (text[0] == '[') {
            size_t close = text.find(']');
            inSection = close != std::string::npos && SameName(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        size_t equals = text.find('=');
        if (equals == std::string::npos || !SameName(Trim(text.substr(0, equals)), key)) continue;
        std::string value = Trim(text.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return LeadingInteger(value);
    }
    return defaultValue;
}

}  // namespace LiveModule::platform
