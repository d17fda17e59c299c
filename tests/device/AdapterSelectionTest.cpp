#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "DeviceIdentity.h"
#include "NetAdapterHelper.h"

using namespace LiveModule;

namespace {

constexpr uint32_t kEthernet = 6, kWireless = 71, kPpp = 23, kFddi = 15;

// `mac` is "00-1A-2B-..." with up to 8 groups, "" for none.
AdapterEntry Adapter(const std::string& name, uint32_t type, const std::string& mac,
                     std::vector<std::string> ips = {"10.0.0.2"}, const std::string& gateway = "10.0.0.1",
                     const std::string& description = "Test adapter") {
    AdapterEntry entry;
    entry.name = name;
    entry.description = description;
    entry.type = type;
    std::istringstream groups(mac);
    for (std::string group; std::getline(groups, group, '-');) {
        entry.address[entry.addressLength++] = static_cast<uint8_t>(std::strtoul(group.c_str(), nullptr, 16));
    }
    entry.ipAddresses = std::move(ips);
    entry.gateway = gateway;
    return entry;
}

// Selection over `adapters`; the adapters named in `connected` are on the given wireless network.
NetAdapterInfo Select(const std::vector<AdapterEntry>& adapters, std::map<std::wstring, std::wstring> connected = {}) {
    return NetAdapterHelper::SelectPrimaryAdapter(adapters, [&connected](const std::wstring& guid) {
        return connected.count(guid) ? connected[guid] : std::wstring();
    });
}

std::string MacOf(const std::vector<AdapterEntry>& adapters, std::map<std::wstring, std::wstring> connected = {}) {
    return FormatMacAddress(Select(adapters, std::move(connected)).mac, '-');
}

const std::string kFallback = "ff-ff-ff-00-00-00";

}  // namespace

TEST(AdapterChecks, EveryTableEntryMatchesOnlySixByteAddresses) {
    using Check = bool (*)(const AdapterEntry&);
    const std::vector<std::pair<Check, std::vector<std::string>>> tables = {
        {NetAdapterHelper::IsVirtualMachineAdapter,
         {"00-50-56", "00-05-69", "00-0C-29", "00-1C-14", "00-1C-42", "00-03-FF", "00-0F-4B", "00-16-3E", "08-00-27"}},
        {NetAdapterHelper::IsVpnAdapter,
         {"00-53-45-00-00-00", "54-55-43-44-52-09", "54-EF-14-71-E4-0E", "54-BA-C6-FF-74-10", "00-05-9A-3C-7A-00",
          "00-05-9A-3C-78-00", "44-45-53-54-42-00", "00-30-70-00-00-01", "00-02-03-04-05-06", "00-09-0F"}},
        {NetAdapterHelper::IsBluetoothAdapter,
         {"65-90-07-42-F1", "00-15-83-3D-0A-57", "00-1F-81-00-08-30", "00-1B-10-00-2A-EC", "00-15-83-15-A3-10",
          "00-15-83-07-C6-5A", "00-1F-81-00-02-00", "00-1F-81-00-02-DD", "00-15-83-0B-13-C0", "00-1F-81-00-01-00",
          "00-30-91-10-00-26", "00-25-00-5A-C3-D0", "00-15-83-0C-BF-EB"}},
        {NetAdapterHelper::IsExcludedMac,
         {"00-00-00-00-00-00", "00-26-37-BD-39-42", "00-11-22-33-44-55", "00-FF", "00-A0-C6-00-00-00",
          "20-41-53-59-4E-FF", "00-22-2C-FF-FF-FF", "00-1E-10-1F-00-01", "80-00-60-0F-E8-00", "44-45-53-54-4F-53",
          "00-A0-D5", "00-04-0E-FF-FF-FF", "00-00-00-00-00-01", "58-2C-80-13-92-63", "00-00-00-00-00-30",
          "00-11-F5-0D-8A-E8", "00-20-07-01-16-06", "0D-0B-00-00-E0-00", "90-4C-E5-0B-C8-8E", "00-1C-23-38-49-A4",
          "00-12-3F-82-7C-32", "00-11-11-32-C3-77", "00-24-D6-AE-3E-39", "00-0F-B0-3A-B4-80", "08-10-74-A1-DA-1B",
          "00-21-9B-2A-0A-9C"}},
    };
    for (const auto& [check, entries] : tables) {
        for (const std::string& entry : entries) {
            SCOPED_TRACE(entry);
            const std::size_t length = (entry.size() + 1) / 3;
            AdapterEntry adapter = Adapter("a", kEthernet, entry);
            adapter.addressLength = 6;  // bytes past the entry stay zero
            EXPECT_TRUE(check(adapter));
            for (uint32_t otherLength : {5u, 8u}) {
                AdapterEntry other = adapter;
                other.addressLength = otherLength;
                EXPECT_FALSE(check(other));
            }
            adapter.address[length - 1] ^= 0x80;  // the whole entry has to match
            EXPECT_FALSE(check(adapter));
        }
    }
    EXPECT_EQ(ExcludedMacs.size(), 27u);  // the repeated entry stays
}

TEST(AdapterChecks, BluetoothDescriptionAndGatewayAreExactTexts) {
    const auto bluetooth = [](const std::string& mac, const std::string& description) {
        return NetAdapterHelper::IsBluetoothAdapter(Adapter("a", kEthernet, mac, {"10.0.0.2"}, "10.0.0.1", description));
    };
    EXPECT_TRUE(bluetooth("00-1A-2B-3C-4D-5E", "Bluetooth Device (Personal Area Network)"));
    EXPECT_FALSE(bluetooth("00-1A-2B-3C-4D-5E", "bluetooth device"));
    EXPECT_FALSE(bluetooth("00-1A-2B-3C-4D-5E-6F-70", "Bluetooth Device"));

    const auto working = [](std::vector<std::string> ips, const std::string& gateway) {
        return NetAdapterHelper::HasGatewayAndAddress(Adapter("a", kEthernet, "00-1A-2B-3C-4D-5E", ips, gateway));
    };
    EXPECT_TRUE(working({"0.0.0.0", "10.0.0.2"}, "10.0.0.1"));
    EXPECT_FALSE(working({"10.0.0.2"}, "0.0.0.0"));
    EXPECT_FALSE(working({"0.0.0.0", "0.0.0.0"}, "10.0.0.1"));
    EXPECT_TRUE(working({"10.0.0.2"}, ""));  // only the exact text "0.0.0.0" means none
}

TEST(AdapterSelection, NeedsGatewayAddressAndHardwareAddress) {
    const NetAdapterInfo none = Select({});
    EXPECT_EQ(none.type, ConnectionOther);
    EXPECT_EQ(none.typeName, L"默认网络");
    EXPECT_EQ(none.ip, "0.0.0.0");
    EXPECT_TRUE(none.mac.empty());

    EXPECT_EQ(MacOf({Adapter("e", kEthernet, "00-1A-2B-3C-4D-5E", {"10.0.0.2"}, "0.0.0.0")}), kFallback);
    EXPECT_EQ(MacOf({Adapter("e", kEthernet, "00-1A-2B-3C-4D-5E", {"0.0.0.0", "0.0.0.0"})}), kFallback);
    EXPECT_EQ(MacOf({Adapter("ppp", kPpp, "")}), kFallback);

    const NetAdapterInfo wired = Select({Adapter("e", kEthernet, "00-1A-2B-3C-4D-5E", {"0.0.0.0", "10.0.0.2", "10.0.0.3"})});
    EXPECT_EQ(wired.type, ConnectionLocal);
    EXPECT_EQ(wired.typeName, L"本地连接");
    EXPECT_EQ(wired.ip, "10.0.0.2");
    EXPECT_EQ(FormatMacAddress(wired.mac, ':'), "00:1a:2b:3c:4d:5e");
    // No table applies to an 8-byte address, and all of it is kept.
    EXPECT_EQ(MacOf({Adapter("fw", kEthernet, "00-50-56-C0-00-08-0A-0B")}), "00-50-56-c0-00-08-0a-0b");
}

TEST(AdapterSelection, SkipsTableAdaptersAndClassZero) {
    EXPECT_EQ(MacOf({Adapter("vm", kEthernet, "00-50-56-C0-00-08")}), kFallback);
    EXPECT_EQ(MacOf({Adapter("vpn", kEthernet, "00-09-0F-11-22-33")}), kFallback);
    EXPECT_EQ(MacOf({Adapter("dummy", kEthernet, "00-FF-11-22-33-44")}), kFallback);
    EXPECT_EQ(MacOf({Adapter("pan", kEthernet, "00-1A-2B-3C-4D-5E", {"10.0.0.2"}, "10.0.0.1", "Bluetooth PAN")}),
              kFallback);
    EXPECT_EQ(MacOf({Adapter("vm", kEthernet, "08-00-27-01-02-03"),
                     Adapter("lan", kEthernet, "00-1A-2B-3C-4D-5E", {"10.0.0.2"}, "10.0.0.1", "bluetooth")}),
              "00-1a-2b-3c-4d-5e");

    EXPECT_EQ(Select({Adapter("x", kPpp, "00-1A-2B-3C-4D-5E")}).typeName, L"宽带连接");
    EXPECT_EQ(Select({Adapter("x", kFddi, "00-1A-2B-3C-4D-5E")}).typeName, L"光纤连接");
    for (uint32_t type : {0u, 1u, 9u, 24u, 28u, 131u}) {  // other, token ring, loopback, SLIP, tunnel
        EXPECT_EQ(MacOf({Adapter("x", type, "00-1A-2B-3C-4D-5E")}), kFallback) << type;
    }
}

TEST(AdapterSelection, OnlyConnectedWirelessReplacesEarlierChoice) {
    const AdapterEntry wired = Adapter("eth0", kEthernet, "00-1A-2B-3C-4D-01");
    const AdapterEntry fiber = Adapter("fddi0", kFddi, "00-1A-2B-3C-4D-02");
    const AdapterEntry wifi = Adapter("wlan0", kWireless, "00-1A-2B-3C-4D-03");
    const AdapterEntry wifi2 = Adapter("wlan1", kWireless, "00-1A-2B-3C-4D-04");
    const std::map<std::wstring, std::wstring> both = {{L"wlan0", L"Home"}, {L"wlan1", L"Office"}};

    const NetAdapterInfo chosen = Select({wired, wifi}, both);
    EXPECT_EQ(chosen.typeName, L"无线连接");
    EXPECT_EQ(chosen.wlanProfile, L"Home");
    EXPECT_EQ(FormatMacAddress(chosen.mac, '-'), "00-1a-2b-3c-4d-03");
    EXPECT_EQ(MacOf({wifi, wired, fiber}, both), "00-1a-2b-3c-4d-03");
    EXPECT_EQ(MacOf({wifi, wifi2, wired}, both), "00-1a-2b-3c-4d-04");
    EXPECT_EQ(MacOf({fiber, wired}, both), "00-1a-2b-3c-4d-02");

    // Not connected: it cannot replace a choice, but it can be the first, and then stays.
    EXPECT_EQ(MacOf({wired, wifi}), "00-1a-2b-3c-4d-01");
    const NetAdapterInfo idle = Select({wifi, wired});
    EXPECT_EQ(FormatMacAddress(idle.mac, '-'), "00-1a-2b-3c-4d-03");
    EXPECT_TRUE(idle.wlanProfile.empty());
    EXPECT_EQ(MacOf({wifi, wired, wifi2}, {{L"wlan1", L"Office"}}), "00-1a-2b-3c-4d-04");
}
