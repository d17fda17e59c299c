#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Encoding.h"
#include "TempFolder.h"
#include "TextConversion.h"

using namespace LiveModule;

namespace {

const std::wstring kRequestFailed = L"网络请求失败";
const std::wstring kServerError = L"服务器返回异常，错误码: ";

}  // namespace

TEST(ChsConversion, RoundTripsChineseAndRejectsWhatCodePage936Lacks) {
    EXPECT_EQ(WideToChs(kRequestFailed), "\xCD\xF8\xC2\xE7\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC");
    EXPECT_EQ(ChsToWide(WideToChs(kRequestFailed)), kRequestFailed);
    EXPECT_EQ(ChsToWide(WideToChs(kServerError)), kServerError);
    EXPECT_EQ(WideToChs(L"ok \U0001F600"), "");
    EXPECT_EQ(ChsToWide("ab\xCD"), L"");  // a lead byte without its trail byte
    EXPECT_EQ(ChsToWide("\xFF"), L"");
    // Both stop at the first NUL.
    EXPECT_EQ(ChsToWide(std::string("ab\0\xFF", 4)), L"ab");
    EXPECT_EQ(WideToChs(std::wstring(L"ab\0\U0001F600", 4)), "ab");
}

TEST(ChsConversion, OverlappingCallsAgreeAndLeaveTheLocaleAlone) {
    const std::string localeBefore = std::setlocale(LC_ALL, nullptr);
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int& failed : failures) {
        threads.emplace_back([&failed] {
            for (int i = 0; i < 300; ++i) {
                failed += ChsToWide(WideToChs(kRequestFailed)) != kRequestFailed;
                failed += ChsToWide(WideToChs(kServerError)) != kServerError;
                failed += !WideToChs(L"\U0001F600").empty();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), localeBefore);
}

TEST(AnsiConversion, PlainCLocaleCountsAsUtf8) {
    EXPECT_EQ(AnsiToUtf8("\xE7\xBD\x91"), "\xE7\xBD\x91");
    EXPECT_EQ(AnsiToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");  // undecodable byte
    EXPECT_EQ(Utf8ToAnsi("x\xE4\xB8"), "x\xEF\xBF\xBD\xEF\xBF\xBD");  // cut-off sequence, one per byte
    EXPECT_EQ(AnsiToUtf8(std::string("a\0b", 3)), "a");
    EXPECT_EQ(Utf8ToAnsi(std::string("\0b", 2)), "");
    EXPECT_EQ(AnsiToWide(std::string("\xE7\xBD\x91\0x", 5)), L"网");
    EXPECT_EQ(AnsiToWide("\xC0"), L"\uFFFD");
}

TEST(AnsiConversion, FollowsTheCodesetOfTheProcessLocale) {
    TempFolder folder;
    const std::string command = "localedef -i zh_CN -f GBK " + folder / "zh_CN.GBK" + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "cannot build a GBK locale here";
    setenv("LOCPATH", folder.path().c_str(), 1);
    struct Restore {
        ~Restore() {
            std::setlocale(LC_ALL, "C");
            unsetenv("LOCPATH");
        }
    } restore;
    ASSERT_NE(std::setlocale(LC_ALL, "zh_CN.GBK"), nullptr);
    EXPECT_EQ(AnsiToUtf8("\xCD\xF8"), "\xE7\xBD\x91");
    EXPECT_EQ(Utf8ToAnsi("\xE7\xBD\x91\xF0\x9F\x98\x80"), "\xCD\xF8?");  // no emoji in GBK
    EXPECT_EQ(AnsiToWide("\xCD\xF8"), L"网");
    EXPECT_EQ(UrlEncodeUtf8("\xCD\xF8 a"), "%E7%BD%91+a");
}
