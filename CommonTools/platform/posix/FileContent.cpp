#include "platform/FileContent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/WriteAll.h"

namespace LiveModule::platform {
namespace {

// Makes a rename inside the folder of `path` durable. Best effort: the file systems that cannot
// sync a folder keep their renames in order anyway.
void SyncParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// A new file beside `path` that no other writer uses, or -1.
int CreateSibling(const std::string& path, std::string& sibling) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        sibling = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[16384];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    if (!ok) content.clear();
    return ok;
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    std::string sibling;
    const int fd = CreateSibling(path, sibling);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content.data(), content.size());
    // The data must be on the disk before the rename makes it the file.
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(sibling.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(sibling.c_str());
        return false;
    }
    SyncParentFolder(path);
    return true;
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::CreateReplacing(const std::string& path) {
    Close();
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode) || unlink(path.c_str()) != 0) return false;
    }
    // O_EXCL with O_NOFOLLOW: a link planted after the unlink fails the open instead of being followed.
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    return fd >= 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    return fd >= 0 && WriteAll(fd, static_cast<const char*>(data), size);
}

bool OutputFile::SetPermissions(unsigned mode) {
    return fd >= 0 && fchmod(fd, static_cast<mode_t>(mode & 0777)) == 0;
}

bool OutputFile::RemoveWriteBits() {
    struct stat info;
    return fd >= 0 && fstat(fd, &info) == 0 && fchmod(fd, info.st_mode & 07777 & ~static_cast<mode_t>(0222)) == 0;
}

bool OutputFile::SetTimes(int64_t accessTime, int64_t modificationTime) {
    if (fd < 0) return false;
    const struct timespec times[2] = {{static_cast<time_t>(accessTime), 0}, {static_cast<time_t>(modificationTime), 0}};
    return futimens(fd, times) == 0;
}

bool OutputFile::Close() {
    const int current = fd;
    fd = -1;
    return current < 0 || close(current) == 0;
}

}  // namespace LiveModule::platform
