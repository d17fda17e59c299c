#include "platform/VersionResource.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace LiveModule::platform {
namespace {

// The string values a version resource usually carries, read for every translation it lists.
constexpr const char* kStringNames[] = {"ProductVersion", "FileVersion",  "ProductName",     "FileDescription",
                                        "CompanyName",    "InternalName", "OriginalFilename", "LegalCopyright"};

}  // namespace

bool ReadVersionResource(const std::string& path, std::map<std::string, std::string>& values) {
    values.clear();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                          &length) ||
        translations == nullptr || length < sizeof(Translation)) {
        return false;
    }
    char first[16];
    std::snprintf(first, sizeof first, "%04x%04x", translations[0].language, translations[0].codePage);
    values["\\VarFileInfo\\Translation"] = first;

    for (UINT index = 0; index < length / sizeof(Translation); ++index) {
        char subBlock[16];
        std::snprintf(subBlock, sizeof subBlock, "%04x%04x", translations[index].language, translations[index].codePage);
        for (const char* name : kStringNames) {
            const std::string key = std::string("\\StringFileInfo\\") + subBlock + "\\" + name;
            char* text = nullptr;
            UINT textLength = 0;
            if (!::VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &textLength) || !text) {
                continue;
            }
            // The length counts the terminating NUL when there is one.
            std::string value(text, textLength);
            if (const auto end = value.find('\0'); end != std::string::npos) value.resize(end);
            values.emplace(key, value);
        }
    }
    return true;
}

}  // namespace LiveModule::platform
