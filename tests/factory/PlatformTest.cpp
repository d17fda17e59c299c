#ifndef _WIN32
#include <glib.h>
#endif

#include <atomic>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "TestSupport.h"
#ifdef _WIN32
// The platform call of this name, not the Win32 macro for its ANSI form (windows.h comes with the
// catalogue server's header).
#undef GetProfileInt
#endif
#include "platform/ProcessLauncher.h"
#include "platform/ProfileReader.h"
#include "platform/ThreadTimer.h"

using LiveModule::platform::GetProfileInt;
using LiveModule::platform::SplitCommandLine;

TEST(ProfileReader, ReadsLikeTheWindowsProfileReader) {
    lmtest::TempDir dir;
    const std::string ini = dir.path() + "/global.ini";
    EXPECT_EQ(GetProfileInt("General", "UpdateIntervalInMin", 30, ini), 30) << "no file";
    lmtest::WriteFile(ini,
                      "; comment\n"
                      "[Other]\nUpdateIntervalInMin=7\n"
                      "[ general ]\n"
                      "  updateintervalinmin =  15min \n"
                      "UpdateIntervalInMin=99\n"
                      "Word=abc\n"
                      "Negative=-4\n"
                      "Quoted=\"12\"\n"
                      "[General]\nLater=5\n");
    for (const auto& [section, key, expected] : std::vector<std::tuple<const char*, const char*, int>>{
             {"GENERAL", "UpdateIntervalInMin", 15},  // case-insensitive, the first key, its leading integer
             {"General", "Word", 0},                  // a value without digits reads as 0
             {"General", "Negative", -4}, {"General", "Quoted", 12}, {"General", "Missing", 30},
             {"Absent", "UpdateIntervalInMin", 30}, {"Other", "updateIntervalInMin", 7}}) {
        EXPECT_EQ(GetProfileInt(section, key, 30, ini), expected) << section << "/" << key;
    }
    // Saved by Notepad: a UTF-8 or a UTF-16LE byte order mark; without a mark the bytes are the text.
    const std::string line = "[General]\r\nUpdateIntervalInMin=12\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : line) utf16 += std::string{c, '\0'};
    for (const auto& [content, expected] : std::vector<std::pair<std::string, int>>{
             {"\xEF\xBB\xBF" + line, 12}, {utf16, 12}, {utf16.substr(0, utf16.size() - 4), 12}, {line, 12},
             {"\xFE\xFF" + line, 30}, {"\xFF\xFE", 30}}) {
        lmtest::WriteFile(ini, content);
        EXPECT_EQ(GetProfileInt("General", "UpdateIntervalInMin", 30, ini), expected) << content.size();
    }
}

TEST(ProcessLauncher, SplitsParametersAsACommandLine) {
    EXPECT_EQ(SplitCommandLine("-cf \"/a b/c d.so\" \"/x/y z.so\""),
              (std::vector<std::string>{"-cf", "/a b/c d.so", "/x/y z.so"}));
    EXPECT_EQ(SplitCommandLine("  a\t\tb  "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitCommandLine("\"\" x"), (std::vector<std::string>{"", "x"}));
    EXPECT_EQ(SplitCommandLine("pre\"fix mid\"post"), (std::vector<std::string>{"prefix midpost"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
}

TEST(ProcessLauncher, RunsTheCopyProgramHiddenAndWaitsForIt) {
    lmtest::TempDir dir;
    const std::string source = lmtest::Native(dir.path() + "/a source file.txt");
    const std::string target = lmtest::Native(dir.path() + "/the copy.txt");
    lmtest::WriteFile(source, "payload");
    ASSERT_TRUE(LiveModule::platform::RunHiddenAndWait(lmtest::Native(LMTEST_FACTORY_DIR "/") + lmtest::Program("FileOperation"),
                                                       "-cf \"" + source + "\" \"" + target + "\""));
    EXPECT_EQ(lmtest::ReadFile(target), "payload") << "the copy is complete when the call returns";
    EXPECT_FALSE(LiveModule::platform::RunHiddenAndWait(lmtest::Native(dir.path() + "/" + lmtest::Program("missing")),
                                                        "-cf \"a\" \"b\""));
}

TEST(ThreadTimer, TicksOnTheThreadThatRunsItsEventLoopUntilKilledEvenFromItsOwnTick) {
    // A thread with an event loop of its own (a GLib main context pushed as its default, or the message
    // queue Windows gives every thread): ticks must arrive there, not on this thread's.
    std::atomic<int> ticks{0};
    std::thread::id tickThread;
    std::thread worker([&] {
#ifndef _WIN32
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
#endif
        LiveModule::platform::TimerId id = 0;
        id = LiveModule::platform::SetThreadTimer(1, [&] {
            tickThread = std::this_thread::get_id();
            if (++ticks == 3) LiveModule::platform::KillThreadTimer(id);  // killing from inside a tick is safe
        });
        int others = 0;  // a second timer keeps ticking after the first is gone
        const LiveModule::platform::TimerId other = LiveModule::platform::SetThreadTimer(1, [&] { ++others; });
        EXPECT_NE(id, 0u);
        EXPECT_NE(other, 0u);
        EXPECT_EQ(ticks + others, 0) << "ticks come only from the event loop";
        EXPECT_TRUE(lmtest::PumpUntil([&] { return ticks >= 3 && others >= 8; }, 5000));
        LiveModule::platform::KillThreadTimer(other);
        const int othersSeen = others;
        // No further tick after the kills, however long the loop runs.
        lmtest::PumpFor(50);
        EXPECT_EQ(others, othersSeen);
#ifndef _WIN32
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
#endif
        EXPECT_EQ(tickThread, std::this_thread::get_id());
    });
    worker.join();
    EXPECT_EQ(ticks, 3);
}
