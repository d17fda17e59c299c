#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <functional>

#include "UpdaterTestKit.h"

// Installing a package over an installed release: every failure leaves the release that was there,
// whole; a success leaves exactly the new one, never writable by others.
using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
using lmtest::ReadFile;
using lmtest::Record;
using lmtest::Tree;
using lmtest::UnixEntry;
using lmtest::UpdaterTree;
using lmtest::ZipEntry;
namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
// Runs `body` in a child process and returns its exit status (or 100 + signal).
int InChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

void ChownTree(const std::string& root, uid_t owner) {
    if (chown(root.c_str(), owner, owner) != 0) ADD_FAILURE() << root;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (lchown(entry.path().c_str(), owner, owner) != 0) ADD_FAILURE() << entry.path();
    }
}
#endif

class InstallOver : public UpdaterTree {
protected:
    // Release 1 of "m", installed and recorded, and a package of another module waiting beside it.
    void InstallReleaseOne() {
        lmtest::WriteFile(modules + "m/64bit/m_6_3_1_0.so", "library 1");
        lmtest::WriteFile(modules + "m/data/settings.json", "{\"release\": 1}");
        Peer::Upsert(updater, Record("m", 1));
        lmtest::WriteZip(staging + "other.zip", {{"other/64bit/other_6_3_1_0.so", "waiting"}});
        otherPackage = ReadFile(staging + "other.zip");
    }
    void ExpectReleaseOne(const std::string& what) {
        EXPECT_EQ(Tree(modules + "m"), (std::set<std::string>{"64bit/", "64bit/m_6_3_1_0.so", "data/", "data/settings.json"}))
            << what;
        EXPECT_EQ(ReadFile(modules + "m/64bit/m_6_3_1_0.so"), "library 1") << what;
        EXPECT_EQ(ReadFile(modules + "m/data/settings.json"), "{\"release\": 1}") << what;
        EXPECT_EQ(Tree(staging), (std::set<std::string>{"other.zip"})) << what << ": the package and its work go";
        EXPECT_EQ(ReadFile(staging + "other.zip"), otherPackage) << what << ": another package waits untouched";
    }
    std::string otherPackage;
};

}  // namespace

TEST_F(InstallOver, EveryFailureLeavesThePreviousReleaseWhole) {
    struct Case {
        const char* what;
        std::vector<ZipEntry> package;
        std::string line;                      // the error logged; empty: one of the two install failures
        std::function<int()> run;  // installs, in whatever setting the case needs; 0 when it failed
        bool ownMountNamespace = false;        // the tree the case saw is gone once it returns
    };
    const auto inProcess = [this] { return updater.InstallModule("m") ? 1 : 0; };
    const std::string newLibrary = "m/64bit/m_6_3_1_0.so", copyFailed = "[LiveModuleUpdater] Copy module dir failed";
    const std::string unzipFailed = "[LiveModuleUpdater] Unzip module packet failed {path: " + staging + "m.zip}";
    std::vector<Case> cases{
        {"wrong top folder", {{"other/64bit/m_6_3_1_0.so", "library 2"}}, copyFailed, inProcess},
        {"damaged entry after good ones", {{newLibrary, "library 2"}, {"m/data/big", "x", 0, lmtest::Damage::BadCrc}}, unzipFailed, inProcess},
    };
#ifndef _WIN32
    // Other users and private mounts are Linux's: setuid in a forked child, a tmpfs in a mount namespace.
    // An unprivileged user cannot read what the package made unreadable, so the new release cannot be
    // assembled; root could, and would install it.
    const auto asNobody = [this] {
        ChownTree(temp.path(), 65534);
        return InChild([this] {
            if (setgid(65534) != 0 || setuid(65534) != 0) return 90;
            return updater.InstallModule("m") ? 1 : 0;
        });
    };
    // The tree on a private 192 KiB tmpfs: release 1 and the package fit, the unpacked copies do not.
    const auto onFullDisk = [this] {
        return InChild([this] {
            if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 91;
            const std::string saved = ReadFile(staging + "m.zip");
            if (mount("tmpfs", root.c_str(), "tmpfs", 0, "size=192k") != 0) return 93;
            fs::create_directories(staging);
            InstallReleaseOne();
            lmtest::WriteFile(staging + "m.zip", saved);
            LiveModuleUpdater onTmpfs(nullptr, UpdaterCallbacks(), "30.0.0");
            Peer::Open(onTmpfs, modules);
            Peer::Upsert(onTmpfs, Record("m", 1));
            if (onTmpfs.InstallModule("m")) return 1;
            ExpectReleaseOne("disk full");
            return ::testing::Test::HasFailure() ? 2 : 0;
        });
    };
    cases.push_back({"unreadable entry, unprivileged user", {{newLibrary, "library 2"}, UnixEntry("m/data/secret", "s", 0100000)},
                     copyFailed, asNobody});
    cases.push_back({"disk fills up", {{newLibrary, "library 2"}, {"m/data/big", lmtest::Incompressible(96 << 10)}}, "", onFullDisk, true});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        fs::create_directories(staging);
        Peer::Open(updater, modules);
        InstallReleaseOne();
        lmtest::WriteZip(staging + "m.zip", c.package);
        const int linesBefore = c.line.empty() ? 0 : log.Count("error", c.line);
        const int result = c.run();
        if (result >= 90 && result < 100) {
            ADD_FAILURE() << "the case could not be set up (" << result << "): run the tests as root in a namespace";
            continue;
        }
        EXPECT_EQ(result, 0) << "the install failed";
        if (!c.line.empty()) {
            EXPECT_EQ(log.Count("error", c.line), linesBefore + 1);
        }
        if (c.ownMountNamespace) continue;  // it checked its tree itself
        ExpectReleaseOne(c.what);
        EXPECT_EQ(lmtest::Listing(Peer::Local(*Restart())), "m:0 ") << "the version is reset so the package is fetched again";
    }
    EXPECT_EQ(log.Count("error", copyFailed) + log.Count("error", unzipFailed), static_cast<int>(cases.size()))
        << "the full disk fails the extraction or the copy, with its line";
}

TEST_F(InstallOver, ASuccessLeavesExactlyTheNewReleaseAndNothingWritableByOthers) {
#ifdef _WIN32
    using mode_t = unsigned;  // Windows has no umask and no permission bits to check: one case, the tree alone
#endif
    struct Case {
        mode_t umask;
        unsigned entryMode;
        unsigned file, folder;  // installed permission bits
    };
    for (const Case& c : std::vector<Case>{{022, 0100755, 0755, 0755},
#ifndef _WIN32
                                           {022, 0100777, 0755, 0755},
                                           {022, 0100444, 0444, 0755},
                                           {0, 0100777, 0775, 0775},
                                           {0, 0100666, 0664, 0775},
                                           {077, 0100755, 0700, 0700}
#endif
         }) {
        SCOPED_TRACE("umask " + std::to_string(c.umask) + ", entry " + std::to_string(c.entryMode));
        fs::remove_all(modules + "m");
        InstallReleaseOne();
        // The last entry climbs out of the package's folder ("m/../other.zip" maps to "other.zip") and
        // must not replace the package waiting beside it.
        lmtest::WriteZip(staging + "m.zip", {UnixEntry("m/64bit/m_6_3_1_0.so", "library 2", c.entryMode),
                                             UnixEntry("m/64bit/", "", 040777), {"m/readme.txt", "r"},
                                             {"m/../other.zip", "forged"}});
#ifdef _WIN32
        const bool installed = updater.InstallModule("m");
#else
        const mode_t previous = umask(c.umask);
        const bool installed = updater.InstallModule("m");
        umask(previous);
#endif
        ASSERT_TRUE(installed);
        EXPECT_EQ(Tree(modules + "m"), (std::set<std::string>{"64bit/", "64bit/m_6_3_1_0.so", "readme.txt"}))
            << "nothing of release 1 stays";
        EXPECT_EQ(ReadFile(modules + "m/64bit/m_6_3_1_0.so"), "library 2");
#ifndef _WIN32
        struct stat info {};
        ASSERT_EQ(stat((modules + "m/64bit/m_6_3_1_0.so").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.file);
        for (const char* folder : {"m", "m/64bit"}) {
            ASSERT_EQ(stat((modules + folder).c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, c.folder) << folder;
        }
#endif
        EXPECT_EQ(Tree(staging), (std::set<std::string>{"other.zip"}));
        EXPECT_EQ(ReadFile(staging + "other.zip"), otherPackage);
    }
}

TEST_F(InstallOver, LeftoversOfAnInterruptedInstallGoAtTheNextStart) {
    InstallReleaseOne();
    // What a crash leaves at each moment: a half-unpacked package, a half-assembled release, the old
    // release after the exchange, and a download that was never checked.
    lmtest::WriteFile(staging + "m/unpacked/m/64bit/m_6_3_1_0.so", "half");
    lmtest::WriteFile(staging + "m/release/64bit/m_6_3_1_0.so", "half");
    lmtest::WriteFile(staging + "n.pkg", "unchecked");
    lmtest::WriteFile(staging + "n.pkg.download", "partial");
    Restart();
    EXPECT_EQ(Tree(staging), (std::set<std::string>{"other.zip"}));
    EXPECT_EQ(ReadFile(modules + "m/64bit/m_6_3_1_0.so"), "library 1");
}
