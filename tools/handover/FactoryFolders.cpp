#include "FactoryFolders.h"

#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace LiveModule::handover {

namespace {

// Data and renames reach the disk before the next step relies on them, so a power cut behaves
// like a kill: the folders are as the last finished step left them. Linux syncs the file system at
// each step; Windows writes each rename through and flushes the files of the assembled factory.
using platform::FlushFolderEntries;
using platform::FlushFolderTree;

// A rename of one folder beside another, with the system's text for a failure.
bool Rename(const std::string& from, const std::string& to, std::string& why) {
    return platform::RenameFolder(from, to, &why);
}

// Copies the tree `from` into the folder `to` (made when missing, with the permissions of `from`),
// replacing files of the same name; links are copied as links. std::filesystem::copy(recursive | copy_symlinks |
// overwrite_existing) does this on Linux, but mingw-w64's (GCC 12) takes every existing target for
// the source itself (its stat has no inode numbers) and fails with "File exists".
void CopyTree(const fs::path& from, const fs::path& to, std::error_code& error) {
    fs::create_directory(to, from, error);
    if (error) return;
    fs::directory_iterator it(from, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const fs::path target = to / it->path().filename();
        const fs::file_status status = it->symlink_status(error);
        if (error) return;
        if (fs::is_directory(status)) {
            CopyTree(it->path(), target, error);
        } else {
            // What the package replaces is the current factory's copy in the next factory.
            fs::remove(target, error);
            if (error) return;
            if (fs::is_symlink(status)) fs::copy_symlink(it->path(), target, error);
            else fs::copy_file(it->path(), target, error);
        }
        if (error) return;
    }
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

}  // namespace

const char* StepName(Step step) {
    switch (step) {
        case Step::Released: return "released";
        case Step::Staged: return "staged";
        case Step::OldSetAside: return "old-set-aside";
        case Step::NewInPlace: return "new-in-place";
        case Step::PackageRemoved: return "package-removed";
        case Step::NewStarted: return "new-started";
    }
    return "";
}

FactoryFolders::FactoryFolders(const std::string& factoryLibrary) : library(factoryLibrary) {
    const fs::path path(factoryLibrary);
    const fs::path folder = path.parent_path().parent_path();  // .../LiveModuleFactory
    current = folder.string();
    modules = folder.parent_path().string();
    staged = current + ".new";
    kept = current + ".old";
    const std::string name = folder.filename().string();
    package = modules + "/Temp/" + name + ".zip";
    extracted = modules + "/Temp/" + name;
}

bool FactoryFolders::HasKeptFactory() const {
    return IsFolder(kept);
}

std::string FactoryFolders::Recover() const {
    std::string done;
    std::error_code error;
    if (fs::exists(fs::symlink_status(staged, error))) {
        fs::remove_all(staged, error);
        done = "dropped a half-assembled next factory";
    }
    if (!IsFolder(current) && IsFolder(kept)) {
        std::string why;
        const bool back = Rename(kept, current, why);
        if (!done.empty()) done += "; ";
        done += back ? "put the kept factory back" : "cannot put the kept factory back: " + why;
        FlushFolderEntries(modules);
    }
    return done;
}

void FactoryFolders::RemovePackage() const {
    std::error_code error;
    fs::remove(package, error);
    fs::remove_all(extracted, error);
}

bool FactoryFolders::Replace(std::string& why, const std::function<void(Step)>& reached) const {
    const fs::path relative = fs::path(library).lexically_relative(current);
    std::error_code error;
    if (!fs::is_regular_file(fs::path(extracted) / relative, error)) {
        why = "the factory package holds no " + relative.string();
        RemovePackage();
        return false;
    }
    // The next factory is the current one overlaid by the package, so files the package leaves
    // out (the log library, the copy program) stay with it.
    fs::remove_all(staged, error);
    CopyTree(current, staged, error);
    if (!error) CopyTree(extracted, staged, error);
    if (error) {
        why = "cannot assemble the next factory in " + staged + ": " + error.message();
        fs::remove_all(staged, error);
        RemovePackage();
        return false;
    }
    FlushFolderTree(staged);
    reached(Step::Staged);

    // A kept factory from an earlier handover that never started gives way to the current one.
    fs::remove_all(kept, error);
    std::string system;
    // Windows: fails while a file in the folder is open, a loaded DLL among them.
    if (!Rename(current, kept, system)) {
        why = "cannot set the current factory aside: " + system;
        fs::remove_all(staged, error);
        return false;
    }
    FlushFolderEntries(modules);
    reached(Step::OldSetAside);
    if (!Rename(staged, current, system)) {
        why = "cannot move the next factory in: " + system;
        Rename(kept, current, system);
        return false;
    }
    FlushFolderEntries(modules);
    reached(Step::NewInPlace);
    RemovePackage();
    // The removal is in Temp's entries: where flushing is per folder (Windows), modules' is not enough.
    FlushFolderEntries(fs::path(package).parent_path().string());
    reached(Step::PackageRemoved);
    return true;
}

bool FactoryFolders::PutBack(std::string& why) const {
    if (!IsFolder(kept)) {
        why = "no earlier factory is kept";
        return false;
    }
    std::error_code error;
    // Set the failed one aside first: the kept folder must never be the only copy being deleted.
    fs::remove_all(staged, error);
    std::string system;
    Rename(current, staged, system);
    if (!Rename(kept, current, system)) {
        why = "cannot put the earlier factory back: " + system;
        return false;
    }
    fs::remove_all(staged, error);
    FlushFolderEntries(modules);
    return true;
}

void FactoryFolders::DropKept() const {
    std::error_code error;
    if (fs::exists(fs::symlink_status(kept, error))) fs::remove_all(kept, error);
}

}  // namespace LiveModule::handover
