#include "CrashMark.h"

#include <fstream>

#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "platform/PathStyle.h"
#include "updater/ModuleRecord.h"

namespace LiveModule {

namespace {

// <modules>/<id>/64bit/<file> -> <modules>/<id>
std::string ModuleFolder(const std::string& library) {
    const std::string sep = platform::kPathSeparatorText;
    const std::size_t libraries = library.rfind(sep + "64bit" + sep);
    const std::size_t folderEnd = libraries == std::string::npos ? library.find_last_of(platform::kPathSeparators) : libraries;
    return library.substr(0, folderEnd == std::string::npos ? 0 : folderEnd);
}

std::string MarkPath(const std::string& library) {
    return ModuleFolder(library) + platform::kPathSeparatorText + kCrashJournalName;
}

std::string JournalPath(const std::string& library) {
    const std::string folder = ModuleFolder(library);
    const std::size_t modulesEnd = folder.find_last_of(platform::kPathSeparators);
    if (modulesEnd == std::string::npos) return "";
    return folder.substr(0, modulesEnd + 1) + kCrashJournalName;
}

// The journal of the current start, open from Recover on: each entry overwrites the first line in
// place. No truncation and no new file, which some file systems would flush to disk on every close.
struct Journal {
    std::string path;
    std::fstream stream;
};
Journal g_journal;  // UI thread only

bool WriteJournal(const std::string& path, const std::string& line) {
    if (g_journal.path != path || !g_journal.stream.is_open()) return false;
    g_journal.stream.seekp(0);
    g_journal.stream << line << '\n';
    g_journal.stream.flush();
    return !g_journal.stream.fail();
}

}  // namespace

CrashMark::CrashMark(const std::string& library) : journal(JournalPath(library)) {
    if (!journal.empty() && !WriteJournal(journal, library)) journal.clear();
}

CrashMark::~CrashMark() {
    if (!journal.empty()) WriteJournal(journal, "");
}

void CrashMark::Recover(const std::string& modulesDir) {
    const std::string journal = modulesDir + kCrashJournalName;
    g_journal.stream.close();
    g_journal.stream.clear();
    g_journal.path = journal;
    std::string library;
    {
        std::ifstream in(journal, std::ios::binary);
        if (in) std::getline(in, library);
    }
    // Only a library of this modules folder can leave a mark; anything else is a stray text.
    if (!library.empty() && library.compare(0, modulesDir.size(), modulesDir) == 0 &&
        platform::IsDirectory(ModuleFolder(library))) {
        platform::OutputFile mark;
        mark.CreateReplacing(MarkPath(library));
        mark.Close();
    }
    // Made once; from here on it is only written in place.
    if (!platform::Exists(journal)) std::ofstream(journal, std::ios::binary).close();
    g_journal.stream.open(journal, std::ios::binary | std::ios::in | std::ios::out);
    WriteJournal(journal, "");
}

bool CrashMark::Present(const std::string& library) {
    return platform::Exists(MarkPath(library));
}

}  // namespace LiveModule
