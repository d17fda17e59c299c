#include <gtest/gtest.h>

#include <stdexcept>

#include "VersionCompare.h"

using LiveModule::CompareVersion;
using LiveModule::SplitString;

namespace {

// What CompareVersion raised, as "kind: message".
std::string Raised(const std::string& first, const std::string& second) {
    try {
        CompareVersion(first, second);
    } catch (const std::invalid_argument& e) {
        return std::string("invalid_argument: ") + e.what();
    } catch (const std::out_of_range& e) {
        return std::string("out_of_range: ") + e.what();
    }
    return "nothing";
}

}  // namespace

TEST(SplitString, KeepsEmptyPieces) {
    EXPECT_EQ(SplitString("1..2.", '.'), (std::vector<std::string>{"1", "", "2", ""}));
    EXPECT_EQ(SplitString("", '.'), (std::vector<std::string>{""}));
}

TEST(CompareVersion, ComparesComponentsAsPaddedIntegers) {
    EXPECT_GT(CompareVersion("1.0.10", "1.0.9"), 0);
    EXPECT_EQ(CompareVersion("1.2", "1.2.0.0"), 0);
    EXPECT_LT(CompareVersion("1.2", "1.2.1"), 0);
    EXPECT_GT(CompareVersion("2.0", "1.9.9.9"), 0);
    EXPECT_EQ(CompareVersion(" +7.05-beta.\t3x.000000000000000000000000002", "7.5.3.2"), 0);
    EXPECT_LT(CompareVersion("-1", "0"), 0);
    // Differences beyond int32 keep their sign.
    EXPECT_GT(CompareVersion("2147483647", "-2147483648"), 0);
    EXPECT_LT(CompareVersion("1.-2147483648", "1.2147483647"), 0);
}

TEST(CompareVersion, RaisesOnlyForAReachedBadComponent) {
    const std::string invalid = "invalid_argument: invalid stoi argument";
    const std::string range = "out_of_range: stoi argument out of range";
    for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
             {"1.a", "1.0"}, {"1.0", "1."}, {"1..2", "1.0.2"}, {"", "1"}, {"1.- 2", "1.2"}, {"a", "99999999999"}}) {
        EXPECT_EQ(Raised(first, second), invalid) << first << " vs " << second;
    }
    for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
             {"2147483648", "1"}, {"1.-2147483649", "1.0"}, {"99999999999", "a"}}) {
        EXPECT_EQ(Raised(first, second), range) << first << " vs " << second;
    }
    // Nothing after the first differing pair is read.
    EXPECT_GT(CompareVersion("2.a", "1.0"), 0);
    EXPECT_LT(CompareVersion("1.0.x", "1.1.99999999999"), 0);
}
