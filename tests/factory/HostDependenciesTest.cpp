#include <sys/wait.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

// Runs a copy of lm-host placed in `binDir`, so that folder is "beside the host executable".
int RunHostFrom(const std::string& binDir, const lmtest::InstallationTree& tree, const std::string& qtVersion) {
    fs::create_directories(binDir);
    fs::copy_file(LMTEST_LM_HOST, binDir + "/lm-host", fs::copy_options::overwrite_existing);
    const std::string command = "'" + binDir + "/lm-host' --factory '" + tree.factoryPath +
                                "' --env 1 --run-for 0 --qt-version " + qtVersion + " > /dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(HostDependencies, CopiesOnlyMissingFilesOfTheFirstMatchingTagWithPathsIntact) {
    lmtest::TempDir base;
    lmtest::InstallationTree tree(base.path() + "/with blanks/root");
    const std::string deps = tree.modulesDir + "MainProgramDeps/64bit/";
    lmtest::WriteFile(deps + "6_3_1_0/a.so", "a for 6.3.1");
    lmtest::WriteFile(deps + "6_3_1_0/lib with blank.so", "blank");
    lmtest::WriteFile(deps + "6_3_1_0/present.so", "newer");
    lmtest::WriteFile(deps + "6_3_1_0/sub/x.so", "in a sub-folder");
    lmtest::WriteFile(deps + "5_15_2_0/a.so", "another tag");
    const std::string bin = base.path() + "/host bin";
    lmtest::WriteFile(bin + "/present.so", "older, kept");
    auto catalogue = lmtest::StartCatalogue(1);

    // Without the copy program every file is announced and nothing copied; the next start tries again.
    fs::rename(tree.factoryDir + "FileOperation", base.path() + "/FileOperation");
    ASSERT_EQ(RunHostFrom(bin, tree, "6.4.1"), 0);
    EXPECT_FALSE(lmtest::Exists(bin + "/a.so"));
    const std::string announced = "[LiveModuleFactory] Copy app deps begin {src: " + deps + "6_3_1_0/lib with blank.so, dst:" +
                                  bin + "/lib with blank.so}";
    EXPECT_EQ(lmtest::Count(tree.Log(), announced), 1u) << tree.Log();

    // The host's tag 6_4_1_0 has no folder; its partner 6_3_1_0 is deployed.
    fs::rename(base.path() + "/FileOperation", tree.factoryDir + "FileOperation");
    ASSERT_EQ(RunHostFrom(bin, tree, "6.4.1"), 0);
    EXPECT_EQ(lmtest::ReadFile(bin + "/a.so"), "a for 6.3.1");
    EXPECT_EQ(lmtest::ReadFile(bin + "/lib with blank.so"), "blank");
    EXPECT_EQ(lmtest::ReadFile(bin + "/present.so"), "older, kept") << "an existing file is never replaced";
    EXPECT_FALSE(lmtest::Exists(bin + "/sub") || lmtest::Exists(bin + "/x.so")) << "sub-folders are not deployed";
    const std::string log = tree.Log();
    EXPECT_EQ(lmtest::Count(log, announced), 2u);
    EXPECT_EQ(lmtest::Count(log, "[LiveModuleFactory] Copy app deps end"), 4u) << "two missing files, twice";
    EXPECT_EQ(log.find("present.so"), std::string::npos) << "no line for a file that is there already";
}
