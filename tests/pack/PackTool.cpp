#include "PackTool.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unzip.h>

#include <algorithm>
#include <filesystem>

#include "TestSupport.h"

extern char** environ;
namespace fs = std::filesystem;

namespace lmtest {

ToolRun RunLmPack(const std::vector<std::string>& arguments, const std::string& workingDir) {
    TempDir capture("lmpack-run");
    const std::string outPath = capture.path() + "/out", errPath = capture.path() + "/err";
    std::vector<std::string> words{LMTEST_LM_PACK};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    pid_t child = 0;
    ToolRun run;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0) << argv[0];
    if (spawned != 0) return run;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

void AddLibrary(const std::string& package, const std::string& id, const std::string& tag, const std::string& variant) {
    fs::create_directories(package + "/64bit");
    fs::copy_file(BuiltModule(variant), package + "/64bit/" + id + "_" + tag + ".so", fs::copy_options::overwrite_existing);
}

std::vector<ZipItem> ReadZip(const std::string& path) {
    std::vector<ZipItem> items;
    unzFile zip = unzOpen64(path.c_str());
    EXPECT_NE(zip, nullptr) << path;
    if (!zip) return items;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[1024] = {};
        EXPECT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        ZipItem item;
        item.name = name;
        item.hostSystem = static_cast<unsigned>(info.version >> 8);
        item.mode = static_cast<unsigned>(info.external_fa >> 16);
        item.method = static_cast<int>(info.compression_method);
        EXPECT_EQ(unzOpenCurrentFile(zip), UNZ_OK) << name;
        char buffer[16384];
        int n;
        while ((n = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) item.data.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(n, 0) << name;
        EXPECT_EQ(unzCloseCurrentFile(zip), UNZ_OK) << name << ": CRC";
        items.push_back(item);
    }
    unzClose(zip);
    return items;
}

std::vector<std::string> ExpectedEntries(const std::string& root, const std::string& prefix) {
    std::vector<std::string> names{prefix + "/"};
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.push_back(prefix + "/" + entry.path().lexically_relative(root).string() + (entry.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace lmtest
