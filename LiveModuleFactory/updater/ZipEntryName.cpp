#include "updater/ZipEntryName.h"

namespace LiveModule {

namespace {
bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}
}  // namespace

std::wstring MapEntryName(const std::wstring& stored) {
    static const wchar_t* const kParentPatterns[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    std::size_t start = 0;
    for (;;) {
        if (start + 1 < stored.size() && stored[start + 1] == L':') {
            start += 2;
            continue;
        }
        if (start < stored.size() && IsSeparator(stored[start])) {
            ++start;
            continue;
        }
        bool skipped = false;
        for (const wchar_t* pattern : kParentPatterns) {
            const std::size_t at = stored.find(pattern, start);
            if (at == std::wstring::npos) continue;
            start = at + 4;
            skipped = true;
            break;
        }
        if (!skipped) return stored.substr(start);
    }
}

bool SplitEntryLevels(const std::wstring& mapped, std::vector<std::wstring>& levels) {
    levels.clear();
    std::size_t begin = 0;
    while (begin <= mapped.size()) {
        std::size_t end = begin;
        while (end < mapped.size() && !IsSeparator(mapped[end])) ++end;
        const std::wstring level = mapped.substr(begin, end - begin);
        if (level == L"..") return false;
        if (!level.empty() && level != L".") levels.push_back(level);
        begin = end + 1;
    }
    return true;
}

}  // namespace LiveModule
