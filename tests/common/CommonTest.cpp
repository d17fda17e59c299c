#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "Encoding.h"
#include "TextConversion.h"
#include "VersionCompare.h"

using namespace LiveModule;

namespace {

const std::wstring kRequestFailed = L"网络请求失败", kServerError = L"服务器返回异常，错误码: ";

// The sign of CompareVersion's result, or what it raised.
std::string Compare(const std::string& first, const std::string& second) {
    try {
        const int32_t difference = CompareVersion(first, second);
        return difference < 0 ? "<" : difference > 0 ? ">" : "=";
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument: ") + e.what();
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range: ") + e.what();
    }
}

}  // namespace

TEST(CompareVersion, ComparesPaddedIntegersAndRaisesOnlyAtAReachedBadPair) {
    const std::string bad = "invalid_argument: invalid stoi argument", big = "out_of_range: stoi argument out of range";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"1.0.10", "1.0.9", ">"}, {"1.2", "1.2.0.0", "="}, {"1.2", "1.2.1", "<"}, {"2.0", "1.9.9.9", ">"},
        {" +7.05-beta.\t3x.000000000000000000000000002", "7.5.3.2", "="}, {"-1", "0", "<"},
        {"2147483647", "-2147483648", ">"}, {"1.-2147483648", "1.2147483647", "<"},  // beyond int32, sign kept
        {"2.a", "1.0", ">"}, {"1.0.x", "1.1.99999999999", "<"},  // nothing past the first difference is read
        {"a", "99999999999", bad}, {"99999999999", "a", big},    // the first side is read first
        {"1.a", "1.0", bad}, {"1.0", "1.", bad}, {"1..2", "1.0.2", bad}, {"", "1", bad}, {"1.- 2", "1.2", bad},
        {"2147483648", "1", big}, {"1.-2147483649", "1.0", big}};
    for (const auto& [first, second, expected] : cases) {
        EXPECT_EQ(Compare(first, second), expected) << first << " vs " << second;
    }
    EXPECT_EQ(SplitString(",1,,", ','), (std::vector<std::string>{"", "1", "", ""}));
}

TEST(Encoders, EscapeEveryByteOutsideTheirSafeSets) {
    using Encoder = std::string (*)(const std::string&);
    const std::vector<std::tuple<Encoder, std::string, std::string>> cases = {
        {UrlEncode, "a b-c_d.e~f/g", "a+b-c_d.e~f%2Fg"}, {UrlEncode, "\t\r\n+%", "%09%0D%0A%2B%25"},
        {UrlEncode, "\xE4\xB8\xAD\x80\xFF", "%E4%B8%AD%80%FF"}, {UrlEncode, std::string("a\0b", 3), "a%00b"},
        {UrlEncodeUtf8, " \t\n\v\f\rx", "++++++x"}, {UrlEncodeUtf8, "-_.~Az09/", "%2D%5F%2E%7EAz09%2F"},
#ifndef _WIN32
        // The tests run in the C locale, whose ANSI text counts as UTF-8 (Windows has no such code page).
        {UrlEncodeUtf8, "\xE4\xB8\xAD", "%E4%B8%AD"},
#endif
        {Base64Encode, "", ""}, {Base64Encode, "f", "Zg=="},
        {Base64Encode, "fo", "Zm8="}, {Base64Encode, "foo", "Zm9v"}, {Base64Encode, "foob", "Zm9vYg=="},
        {Base64Encode, "fooba", "Zm9vYmE="}, {Base64Encode, std::string("\0\xFF", 2), "AP8="},
        {Base64Encode, "\xFB\xFF\xBF", "+/+/"}};  // high bytes are unsigned and reach the alphabet's end
    for (const auto& [encode, input, expected] : cases) EXPECT_EQ(encode(input), expected) << input;
}

// Runs under ThreadSanitizer too: conversions on several threads at once share nothing.
TEST(ChsConversion, RoundTripsChineseOnOverlappingThreadsAndGivesEmptyTextForWhatCodePage936Lacks) {
    const std::string localeBefore = std::setlocale(LC_ALL, nullptr);
    EXPECT_EQ(WideToChs(kRequestFailed), "\xCD\xF8\xC2\xE7\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC");
    EXPECT_EQ(WideToChs(L"ok \U0001F600"), "");
    for (const char* bad : {"ab\xCD", "\xFF"}) EXPECT_EQ(ChsToWide(bad), L"") << bad;  // cut-off pair, no such byte
    EXPECT_EQ(ChsToWide(std::string("ab\0\xFF", 4)), L"ab");  // both stop at the first NUL
    EXPECT_EQ(WideToChs(std::wstring(L"ab\0\U0001F600", 4)), "ab");
    std::atomic<int> failures{0};
    std::vector<std::thread> threads(4);
    for (std::thread& thread : threads) {
        thread = std::thread([&failures] {
            for (int i = 0; i < 300; ++i)
                failures += ChsToWide(WideToChs(kRequestFailed)) != kRequestFailed ||
                            ChsToWide(WideToChs(kServerError)) != kServerError || !WideToChs(L"\U0001F600").empty();
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), localeBefore);
}
