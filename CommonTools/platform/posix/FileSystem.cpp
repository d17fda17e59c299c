#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/posix/WriteAll.h"

namespace LiveModule::platform {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Reports what close itself reports: on some file systems the last write errors show here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || close(fd) == 0;
    }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool CopyContent(int from, int to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(got))) return false;
    }
}

int CreateNew(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

// Opens an existing destination for rewriting. A link in its place (symbolic, or a second name of
// another file) is removed and a new file created, so the write never reaches what it points at.
int OpenForReplacing(const std::string& path, bool& created) {
    // O_NONBLOCK keeps a FIFO in the way from stalling the open; it fails the check below.
    const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ELOOP || unlink(path.c_str()) != 0) return -1;
    } else {
        struct stat info{};
        const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        if (regular && info.st_nlink == 1 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) return fd;
        close(fd);
        if (!regular || unlink(path.c_str()) != 0) return -1;
    }
    const int fresh = CreateNew(path);
    created = fresh >= 0;
    return fresh;
}

}  // namespace

bool MakeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsLink(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool ListDirectory(const std::string& path, std::vector<DirEntry>& entries, AtLink atLink) {
    entries.clear();
    // O_NOFOLLOW checks the link and opens the folder in one step, so no link can be put in between.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (atLink == AtLink::Refuse ? O_NOFOLLOW : 0);
    const int fd = open(path.c_str(), flags);
    if (fd < 0) return false;
    const std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) return errno == 0;
        // Only a real directory counts as one, so the tree walks never pass through a link.
        bool isDirectory = entry->d_type == DT_DIR;
        bool isRegularFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            const bool known = fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0;
            isDirectory = known && S_ISDIR(info.st_mode);
            isRegularFile = known && S_ISREG(info.st_mode);
        }
        entries.push_back({entry->d_name, isDirectory, isRegularFile});
    }
}

bool CopySingleFile(const std::string& from, const std::string& to, bool failIfExists) {
    // A link is followed and its target's content copied, as CopyFile does. Only regular files
    // are copied: O_NONBLOCK keeps a FIFO from stalling the open, and a directory fails below.
    Descriptor source(open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info;
    if (!source.valid() || fstat(source.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

    int fd = CreateNew(to);
    bool created = fd >= 0;
    if (!created && errno == EEXIST && !failIfExists) fd = OpenForReplacing(to, created);
    Descriptor target(fd);
    if (!target.valid()) return false;

    struct stat existing;
    bool ok = fstat(target.get(), &existing) == 0;
    // Copying a file onto itself would truncate it first.
    ok = ok && !(existing.st_dev == info.st_dev && existing.st_ino == info.st_ino);
    ok = ok && (created || ftruncate(target.get(), 0) == 0);
    ok = ok && CopyContent(source.get(), target.get());
    // Permission bits stand in for the attributes CopyFile carries over; ownership is not copied,
    // so neither are the set-id bits.
    ok = ok && fchmod(target.get(), info.st_mode & 0777) == 0;
    const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
    ok = ok && futimens(target.get(), times) == 0;
    ok = target.Close() && ok;
    if (!ok && created) unlink(to.c_str());
    return ok;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
    return rmdir(path.c_str()) == 0;
}

bool MovePath(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool ExchangePaths(const std::string& first, const std::string& second) {
    return renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0;
}

bool RenameFolder(const std::string& from, const std::string& to, std::string* errorText) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errorText) *errorText = std::strerror(errno);
    return false;
}

namespace {
void SyncFileSystemOf(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    syncfs(fd);
    close(fd);
}
}  // namespace

void FlushFolderTree(const std::string& folder) {
    SyncFileSystemOf(folder);
}

void FlushFolderEntries(const std::string& folder) {
    SyncFileSystemOf(folder);
}

bool ClearPermissionBits(const std::string& path, unsigned bits) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) return true;
    const mode_t wanted = info.st_mode & 07777 & ~static_cast<mode_t>(bits);
    return wanted == (info.st_mode & 07777) || fchmodat(AT_FDCWD, path.c_str(), wanted, 0) == 0;
}

unsigned ProcessUmask() {
    // umask() can only be read by setting it, which races with files other threads create.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    }
    return 022;
}

}  // namespace LiveModule::platform
