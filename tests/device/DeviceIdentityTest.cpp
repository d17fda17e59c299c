#include <gtest/gtest.h>

#include <regex>

#include "DeviceIdentity.h"
#include "NetAdapterHelper.h"

using namespace LiveModule;

TEST(DeviceIdentity, FormatsBytesAndEncodesUserDevice) {
    EXPECT_EQ(FormatMacAddress({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, ':'), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(FormatMacAddress({0xFF, 0x0F, 0xF0, 1, 2, 3, 4, 0xAB}, ' '), "ff 0f f0 01 02 03 04 ab");
    EXPECT_EQ(FormatMacAddress({0x00, 0x1A, 0x2B}, '\0'), "001a2b");  // a NUL separator adds nothing

    const NetAdapterInfo none = NetAdapterHelper::SelectPrimaryAdapter({}, [](const std::wstring&) { return L""; });
    EXPECT_EQ(FormatMacAddress(none.mac, ':'), "ff:ff:ff:00:00:00");
    EXPECT_EQ(FormatMacAddress(none.mac, ' '), "ff ff ff 00 00 00");
    // Base64 of "ff ff ff 00 00 00|1.0.0.5" and of "00 1a 2b 3c 4d 5e|1.0.0.5".
    EXPECT_EQ(EncodeUserDevice(FormatMacAddress(none.mac, ' ')), "ZmYgZmYgZmYgMDAgMDAgMDB8MS4wLjAuNQ==");
    EXPECT_EQ(EncodeUserDevice("00 1a 2b 3c 4d 5e"), "MDAgMWEgMmIgM2MgNGQgNWV8MS4wLjAuNQ==");
}

// Only what holds on any machine: the adapter list is well formed and the identifier is clean.
TEST(DeviceIdentity, RealAdaptersGiveAWellFormedIdentifier) {
    std::vector<AdapterEntry> adapters;
    ASSERT_TRUE(platform::ListNetAdapters(adapters));
    const std::regex dotted(R"(\d{1,3}\.\d{1,3}\.\d{1,3}\.\d{1,3})");
    for (const AdapterEntry& adapter : adapters) {
        SCOPED_TRACE(adapter.name);
        EXPECT_LE(adapter.addressLength, 8u);
        EXPECT_TRUE(std::regex_match(adapter.gateway, dotted));
        ASSERT_FALSE(adapter.ipAddresses.empty());
        for (const std::string& ip : adapter.ipAddresses) EXPECT_TRUE(std::regex_match(ip, dotted)) << ip;
        if (adapter.name == "lo") {
            EXPECT_EQ(adapter.type, 24u);
        }
    }

    const NetAdapterInfo primary = NetAdapterHelper().GetPrimaryAdapter();
    const std::string id = GetMacAddress(':');
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{2}(:[0-9a-f]{2}){5}(:[0-9a-f]{2}:[0-9a-f]{2})?"))) << id;
    if (primary.mac.empty()) {
        EXPECT_EQ(id, "ff:ff:ff:00:00:00");
    } else {
        EXPECT_NE(primary.type, ConnectionOther);
        EXPECT_NE(primary.ip, "0.0.0.0");
    }
}
