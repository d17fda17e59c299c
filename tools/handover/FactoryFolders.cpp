#include "FactoryFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace LiveModule::handover {

namespace {

// Data and renames reach the disk before the next step relies on them, so a power cut behaves
// like a kill: the folders are as the last finished step left them.
void SyncFileSystem(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    syncfs(fd);
    close(fd);
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
        fs::rename(kept, current, error);
        if (!done.empty()) done += "; ";
        done += error ? "cannot put the kept factory back: " + error.message() : "put the kept factory back";
        SyncFileSystem(modules);
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
    constexpr auto options = fs::copy_options::recursive | fs::copy_options::copy_symlinks;
    fs::copy(current, staged, options, error);
    if (!error) fs::copy(extracted, staged, options | fs::copy_options::overwrite_existing, error);
    if (error) {
        why = "cannot assemble the next factory in " + staged + ": " + error.message();
        fs::remove_all(staged, error);
        RemovePackage();
        return false;
    }
    SyncFileSystem(modules);
    reached(Step::Staged);

    // A kept factory from an earlier handover that never started gives way to the current one.
    fs::remove_all(kept, error);
    fs::rename(current, kept, error);
    if (error) {
        why = "cannot set the current factory aside: " + error.message();
        fs::remove_all(staged, error);
        return false;
    }
    SyncFileSystem(modules);
    reached(Step::OldSetAside);
    fs::rename(staged, current, error);
    if (error) {
        why = "cannot move the next factory in: " + error.message();
        fs::rename(kept, current, error);
        return false;
    }
    SyncFileSystem(modules);
    reached(Step::NewInPlace);
    RemovePackage();
    SyncFileSystem(modules);
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
    fs::rename(current, staged, error);
    fs::rename(kept, current, error);
    if (error) {
        why = "cannot put the earlier factory back: " + error.message();
        return false;
    }
    fs::remove_all(staged, error);
    SyncFileSystem(modules);
    return true;
}

void FactoryFolders::DropKept() const {
    std::error_code error;
    if (fs::exists(fs::symlink_status(kept, error))) fs::remove_all(kept, error);
}

}  // namespace LiveModule::handover
