#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace LiveModule::pack {

namespace {

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

AtomicFile::AtomicFile(std::string destination) : destination(std::move(destination)) {}

AtomicFile::~AtomicFile() {
    if (!temp.empty() && !committed) unlink(temp.c_str());
}

bool AtomicFile::Create(std::string& error) {
    const size_t slash = destination.rfind('/');
    const std::string name = slash == std::string::npos ? destination : destination.substr(slash + 1);
    // A dot name keeps a half-written file out of listings and out of the catalogue's package names.
    std::string pattern = ParentOf(destination) + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0) {
        error = SystemError("cannot create a temporary file beside", destination);
        return false;
    }
    close(fd);
    temp = buffer.data();
    return true;
}

bool AtomicFile::Commit(mode_t mode, std::string& error) {
    const int fd = open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemError("cannot reopen", temp);
        return false;
    }
    const bool synced = fsync(fd) == 0 && fchmod(fd, mode) == 0;
    const int syncErrno = errno;
    close(fd);
    if (!synced) {
        errno = syncErrno;
        error = SystemError("cannot flush", temp);
        return false;
    }
    if (rename(temp.c_str(), destination.c_str()) != 0) {
        error = SystemError("cannot rename the temporary file to", destination);
        return false;
    }
    committed = true;
    // The rename itself survives a crash only once the folder is flushed too.
    const int folder = open(ParentOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace LiveModule::pack
