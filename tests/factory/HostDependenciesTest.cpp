#include <filesystem>

#include <gtest/gtest.h>

#include "FactoryTestSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

using lmtest::Lib;
using lmtest::Native;

namespace {

// Runs a copy of lm-host placed in `binDir`, so that folder is "beside the host executable".
int RunHostFrom(const std::string& binDir, const lmtest::InstallationTree& tree, const std::string& qtVersion) {
    fs::create_directories(binDir);
    const std::string host = Native(binDir + "/" + lmtest::Program("lm-host"));
    fs::copy_file(Native(LMTEST_LM_HOST), host, fs::copy_options::overwrite_existing);
    return lmtest::factory::RunProgram(
        host, {"--factory", tree.factoryPath, "--env", "1", "--run-for", "0", "--qt-version", qtVersion});
}

}  // namespace

TEST(HostDependencies, CopiesOnlyMissingFilesOfTheFirstMatchingTagWithPathsIntact) {
    lmtest::TempDir base;
    lmtest::InstallationTree tree(base.path() + "/with blanks/root");
    const std::string deps = Native(tree.modulesDir + "MainProgramDeps/64bit/");
    lmtest::WriteFile(Native(deps + "6_3_1_0/" + Lib("a")), "a for 6.3.1");
    lmtest::WriteFile(Native(deps + "6_3_1_0/" + Lib("lib with blank")), "blank");
    lmtest::WriteFile(Native(deps + "6_3_1_0/" + Lib("present")), "newer");
    lmtest::WriteFile(Native(deps + "6_3_1_0/sub/" + Lib("x")), "in a sub-folder");
    lmtest::WriteFile(Native(deps + "5_15_2_0/" + Lib("a")), "another tag");
    const std::string bin = Native(base.path() + "/host bin");
    lmtest::WriteFile(Native(bin + "/" + Lib("present")), "older, kept");
    auto catalogue = lmtest::StartCatalogue(1);

    // Without the copy program every file is announced and nothing copied; the next start tries again.
    const std::string copyProgram = tree.factoryDir + lmtest::Program("FileOperation");
    const std::string aside = Native(base.path() + "/" + lmtest::Program("FileOperation"));
    fs::rename(copyProgram, aside);
    ASSERT_EQ(RunHostFrom(bin, tree, "6.4.1"), 0);
    EXPECT_FALSE(lmtest::Exists(Native(bin + "/" + Lib("a"))));
    const std::string announced = "[LiveModuleFactory] Copy app deps begin {src: " +
                                  Native(deps + "6_3_1_0/" + Lib("lib with blank")) + ", dst:" +
                                  Native(bin + "/" + Lib("lib with blank")) + "}";
    EXPECT_EQ(lmtest::Count(tree.Log(), announced), 1u) << tree.Log();

    // The host's tag 6_4_1_0 has no folder; its partner 6_3_1_0 is deployed.
    fs::rename(aside, copyProgram);
    ASSERT_EQ(RunHostFrom(bin, tree, "6.4.1"), 0);
    EXPECT_EQ(lmtest::ReadFile(Native(bin + "/" + Lib("a"))), "a for 6.3.1");
    EXPECT_EQ(lmtest::ReadFile(Native(bin + "/" + Lib("lib with blank"))), "blank");
    EXPECT_EQ(lmtest::ReadFile(Native(bin + "/" + Lib("present"))), "older, kept") << "an existing file is never replaced";
    EXPECT_FALSE(lmtest::Exists(Native(bin + "/sub")) || lmtest::Exists(Native(bin + "/" + Lib("x"))))
        << "sub-folders are not deployed";
    const std::string log = tree.Log();
    EXPECT_EQ(lmtest::Count(log, announced), 2u);
    EXPECT_EQ(lmtest::Count(log, "[LiveModuleFactory] Copy app deps end"), 4u) << "two missing files, twice";
    EXPECT_EQ(log.find(Lib("present")), std::string::npos) << "no line for a file that is there already";
}
