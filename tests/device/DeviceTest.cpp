#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "DeviceIdentity.h"
#include "NetAdapterHelper.h"

using namespace LiveModule;

namespace {

constexpr uint32_t kEthernet = 6, kWireless = 71, kPpp = 23, kFddi = 15;

// `mac` is "00-1A-2B-..." with up to 8 groups, "" for none; `name` is the wireless network it is on.
AdapterEntry Adapter(const std::string& mac, uint32_t type = kEthernet, const std::string& name = "",
                     std::vector<std::string> ips = {"10.0.0.2"}, const std::string& gateway = "10.0.0.1",
                     const std::string& description = "Test adapter") {
    AdapterEntry entry{name, description, type, {}, 0, std::move(ips), gateway};
    std::istringstream groups(mac);
    for (std::string group; std::getline(groups, group, '-');) {
        entry.address[entry.addressLength++] = static_cast<uint8_t>(std::strtoul(group.c_str(), nullptr, 16));
    }
    return entry;
}

// The choice as "mac ip type-name profile"; each adapter's name is the wireless network it is on.
std::wstring Choose(const std::vector<AdapterEntry>& adapters) {
    const NetAdapterInfo chosen =
        NetAdapterHelper::SelectPrimaryAdapter(adapters, [](const std::wstring& name) { return name; });
    const std::string text = FormatMacAddress(chosen.mac, '-') + " " + chosen.ip + " ";
    return std::wstring(text.begin(), text.end()) + chosen.typeName + L" " + chosen.wlanProfile;
}

}  // namespace

TEST(AdapterChecks, TableEntriesMatchWholeSixByteAddressesOnly) {
    using Check = bool (*)(const AdapterEntry&);
    // The first and last entries of each table, and every entry shorter than an address.
    const std::vector<std::pair<Check, std::vector<std::string>>> tables = {
        {NetAdapterHelper::IsVirtualMachineAdapter, {"00-50-56", "08-00-27"}},
        {NetAdapterHelper::IsVpnAdapter, {"00-53-45-00-00-00", "00-09-0F"}},
        {NetAdapterHelper::IsBluetoothAdapter, {"65-90-07-42-F1", "00-15-83-0C-BF-EB"}},
        {NetAdapterHelper::IsExcludedMac, {"00-00-00-00-00-00", "00-FF", "00-A0-D5", "00-21-9B-2A-0A-9C"}}};
    for (const auto& [check, entries] : tables) for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        AdapterEntry adapter = Adapter((entry + "-5A-5A-5A-5A-5A-5A-5A").substr(0, 23));  // 8 bytes
        for (uint32_t other : {5u, 8u}) {
            adapter.addressLength = other;
            EXPECT_FALSE(check(adapter));
        }
        adapter.addressLength = 6;  // bytes past a short entry are not compared
        EXPECT_TRUE(check(adapter));
        adapter.address[entry.size() / 3] ^= 0x80;  // the whole entry has to match
        EXPECT_FALSE(check(adapter));
    }
}

TEST(AdapterSelection, FollowsTheRules) {
    const std::string mac = "00-1A-2B-3C-4D-5E";
    const std::wstring none = L"ff-ff-ff-00-00-00 0.0.0.0 默认网络 ", wired = L"00-1a-2b-3c-4d-5e 10.0.0.2 本地连接 ";
    const AdapterEntry eth1 = Adapter("00-1A-2B-3C-4D-01"), fiber = Adapter("00-1A-2B-3C-4D-02", kFddi);
    const AdapterEntry home = Adapter("00-1A-2B-3C-4D-03", kWireless, "Home");
    const AdapterEntry office = Adapter("00-1A-2B-3C-4D-04", kWireless, "Office");
    const AdapterEntry idle = Adapter("00-1A-2B-3C-4D-05", kWireless);  // on no network
    const std::vector<std::pair<std::vector<AdapterEntry>, std::wstring>> cases = {
        {{}, none},
        {{Adapter(mac, kEthernet, "", {"10.0.0.2"}, "0.0.0.0")}, none},
        {{Adapter(mac, kEthernet, "", {"0.0.0.0", "0.0.0.0"})}, none},
        {{Adapter(mac, kEthernet, "", {"0.0.0.0", "10.0.0.2", "10.0.0.3"}, "")}, wired},  // only "0.0.0.0" means none
        {{Adapter("", kPpp)}, none},
        {{Adapter(mac, kPpp)}, L"00-1a-2b-3c-4d-5e 10.0.0.2 宽带连接 "},
        {{Adapter("00-50-56-C0-00-08")}, none},  // virtual machine
        {{Adapter("00-09-0F-11-22-33")}, none},  // VPN
        {{Adapter("00-FF-11-22-33-44")}, none},  // excluded
        {{Adapter(mac, kEthernet, "", {"10.0.0.2"}, "10.0.0.1", "Bluetooth PAN")}, none},
        {{Adapter("08-00-27-01-02-03"), Adapter(mac, kEthernet, "", {"10.0.0.2"}, "10.0.0.1", "bluetooth")}, wired},
        // No table or Bluetooth rule applies to an 8-byte address, and all of it is kept.
        {{Adapter("00-50-56-C0-00-08-0A-0B", kEthernet, "", {"10.0.0.2"}, "10.0.0.1", "Bluetooth")},
         L"00-50-56-c0-00-08-0a-0b 10.0.0.2 本地连接 "},
        // Once one is chosen, only a connected wireless adapter takes its place; a later one wins.
        {{eth1, home}, L"00-1a-2b-3c-4d-03 10.0.0.2 无线连接 Home"},
        {{home, eth1, fiber}, L"00-1a-2b-3c-4d-03 10.0.0.2 无线连接 Home"},
        {{home, office, eth1}, L"00-1a-2b-3c-4d-04 10.0.0.2 无线连接 Office"},
        {{fiber, eth1}, L"00-1a-2b-3c-4d-02 10.0.0.2 光纤连接 "},
        {{eth1, idle}, L"00-1a-2b-3c-4d-01 10.0.0.2 本地连接 "},
        {{idle, eth1, office}, L"00-1a-2b-3c-4d-04 10.0.0.2 无线连接 Office"},
        {{idle, eth1}, L"00-1a-2b-3c-4d-05 10.0.0.2 无线连接 "}};
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Choose(cases[i].first), cases[i].second) << "case " << i;
    // Classes without a name are never chosen: other, token ring, loopback, SLIP, tunnel.
    for (uint32_t type : {0u, 1u, 9u, 24u, 28u, 131u}) EXPECT_EQ(Choose({Adapter(mac, type)}), none) << type;
}

TEST(DeviceIdentity, FormatsTheAddressAndTheUserDeviceText) {
    EXPECT_EQ(FormatMacAddress({0xFF, 0x0F, 0xF0, 1, 2, 3, 4, 0xAB}, ':'), "ff:0f:f0:01:02:03:04:ab");
    EXPECT_EQ(FormatMacAddress({0x00, 0x1A, 0x2B}, '\0'), "001a2b");  // a NUL separator adds nothing
    // Base64 of "ff ff ff 00 00 00|1.0.0.5", the fallback, and of "00 1a 2b 3c 4d 5e|1.0.0.5".
    EXPECT_EQ(EncodeUserDevice(FormatMacAddress({}, ' ')), "ZmYgZmYgZmYgMDAgMDAgMDB8MS4wLjAuNQ==");
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
        EXPECT_TRUE(adapter.name != "lo" || adapter.type == 24u);
        ASSERT_FALSE(adapter.ipAddresses.empty());
        for (const std::string& ip : adapter.ipAddresses) EXPECT_TRUE(std::regex_match(ip, dotted)) << ip;
        EXPECT_TRUE(std::regex_match(adapter.gateway, dotted)) << adapter.gateway;
    }
    const NetAdapterInfo primary = NetAdapterHelper().GetPrimaryAdapter();
    const std::string id = GetMacAddress('-');
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{2}(-[0-9a-f]{2}){5}(-[0-9a-f]{2}-[0-9a-f]{2})?"))) << id;
    EXPECT_EQ(id, FormatMacAddress(primary.mac, '-'));
    EXPECT_TRUE(primary.mac.empty() || (primary.type != ConnectionOther && primary.ip != "0.0.0.0"));
    EXPECT_EQ(MakeUserDevice(), EncodeUserDevice(GetMacAddress(' ')));
}
