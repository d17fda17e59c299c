#include <gtest/gtest.h>

#include "Encoding.h"

using namespace LiveModule;

TEST(UrlEncode, KeepsUnreservedAndEncodesEveryOtherByte) {
    EXPECT_EQ(UrlEncode("a b-c_d.e~f/g"), "a+b-c_d.e~f%2Fg");
    EXPECT_EQ(UrlEncode("\t\r\n+%"), "%09%0D%0A%2B%25");
    EXPECT_EQ(UrlEncode("\xE4\xB8\xAD\x80\xFF"), "%E4%B8%AD%80%FF");
    EXPECT_EQ(UrlEncode(std::string("a\0b", 3)), "a%00b");
}

// The tests run in the C locale, whose ANSI text counts as UTF-8.
TEST(UrlEncodeUtf8, EncodesPunctuationAndTurnsWhiteSpaceIntoPlus) {
    EXPECT_EQ(UrlEncodeUtf8("a b-c"), "a+b%2Dc");
    EXPECT_EQ(UrlEncodeUtf8(" \t\n\v\f\rx"), "++++++x");
    EXPECT_EQ(UrlEncodeUtf8("-_.~Az09/"), "%2D%5F%2E%7EAz09%2F");
    EXPECT_EQ(UrlEncodeUtf8("\xE4\xB8\xAD"), "%E4%B8%AD");
    EXPECT_EQ(UrlEncode("\xE4\xB8\xAD"), UrlEncodeUtf8("\xE4\xB8\xAD"));
}

TEST(Base64Encode, MatchesKnownVectors) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    // High bytes are unsigned and reach the last two alphabet characters.
    EXPECT_EQ(Base64Encode("\xFB\xFF\xBF"), "+/+/");
    EXPECT_EQ(Base64Encode(std::string("\0\xFF", 2)), "AP8=");
}
