#include "WritableRoot.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace lmtest {

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// Gives up in the child: says why and leaves with kNoWritableRoot.
[[noreturn]] void Unavailable(const std::string& what) {
    std::fprintf(stderr, "no writable \"/\": %s: %s\n", what.c_str(), std::strerror(errno));
    std::fflush(stderr);
    _exit(kNoWritableRoot);
}

// Mirrors every entry of "/" into `newRoot`: links are copied, folders and files bound in place.
void MirrorRootInto(const std::string& newRoot) {
    DIR* dir = opendir("/");
    if (!dir) Unavailable("opendir /");
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string from = "/" + name, to = newRoot + "/" + name;
        struct stat info;
        if (lstat(from.c_str(), &info) != 0) continue;
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            const ssize_t length = readlink(from.c_str(), target, sizeof target - 1);
            if (length < 0) continue;
            target[length] = '\0';
            if (symlink(target, to.c_str()) != 0) Unavailable("symlink " + to);
            continue;
        }
        if (S_ISDIR(info.st_mode) ? mkdir(to.c_str(), 0755) != 0 : close(open(to.c_str(), O_CREAT | O_WRONLY, 0644)) != 0)
            Unavailable("mount point " + to);
        if (mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) Unavailable("bind " + from);
    }
    closedir(dir);
}

// In the child: becomes root of a new user namespace and changes root to a writable copy of "/".
void EnterWritableRoot(const std::string& newRoot) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) Unavailable("unshare");
    if (!WriteText("/proc/self/setgroups", "deny") ||
        !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        Unavailable("identity maps");
    // Nothing done here may reach the parent's mounts.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Unavailable("private mounts");
    if (mount("lmroot", newRoot.c_str(), "tmpfs", 0, "mode=0755") != 0) Unavailable("tmpfs");
    MirrorRootInto(newRoot);
    if (chroot(newRoot.c_str()) != 0 || chdir("/") != 0) Unavailable("chroot");
}

}  // namespace

int RunWithWritableRoot(const std::function<void()>& body) {
    // The new root's mount point; made and removed here, since the child's mounts keep it busy.
    char pattern[] = "/tmp/lmroot-XXXXXX";
    if (!mkdtemp(pattern)) return kNoWritableRoot;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        rmdir(pattern);
        return kNoWritableRoot;
    }
    if (child == 0) {
        EnterWritableRoot(pattern);
        body();
        const int status = ::testing::Test::HasFailure() ? 1 : 0;
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(status);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    rmdir(pattern);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace lmtest
