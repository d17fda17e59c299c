#include "updater/CompactJson.h"

#include <cstdio>

namespace LiveModule::CompactJson {

std::string String(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
        case '\\': out += "\\\\"; continue;
        case '"': out += "\\\""; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else if (byte == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xa8 || static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
            // U+2028 and U+2029 end a line in JavaScript, so they never stand raw in a string.
            out += static_cast<unsigned char>(text[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out + "\"";
}

std::string Integer(int32_t value) {
    return std::to_string(value);
}

std::string Boolean(bool value) {
    return value ? "true" : "false";
}

std::string Object(const std::map<std::string, std::string>& members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        if (out.size() > 1) out += ", ";
        out += String(key) + ": " + value;
    }
    return out + "}";
}

std::string Array(const std::vector<std::string>& elements) {
    std::string out = "[";
    for (const std::string& element : elements) {
        if (out.size() > 1) out += ", ";
        out += element;
    }
    return out + "]";
}

}  // namespace LiveModule::CompactJson
