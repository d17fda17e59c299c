#include "NetAdapterHelper.h"

#include <algorithm>

#include "TextConversion.h"
#include "platform/TextCodec.h"

namespace LiveModule {

// Constant-initialised, so usable from any other static initialiser.
const std::array<std::wstring_view, 8> ConnectionTypeNames = {
    L"其它连接", L"本地连接", L"无线连接", L"虚拟网卡连接", L"VPN连接", L"宽带连接", L"光纤连接", L"蓝牙连接",
};

const std::array<MacPattern, 9> VirtualMachineMacPrefixes = {{
    {3, {0x00, 0x50, 0x56}},
    {3, {0x00, 0x05, 0x69}},
    {3, {0x00, 0x0C, 0x29}},
    {3, {0x00, 0x1C, 0x14}},
    {3, {0x00, 0x1C, 0x42}},
    {3, {0x00, 0x03, 0xFF}},
    {3, {0x00, 0x0F, 0x4B}},
    {3, {0x00, 0x16, 0x3E}},
    {3, {0x08, 0x00, 0x27}},
}};

const std::array<MacPattern, 10> VpnAdapterMacs = {{
    {6, {0x00, 0x53, 0x45, 0x00, 0x00, 0x00}},
    {6, {0x54, 0x55, 0x43, 0x44, 0x52, 0x09}},
    {6, {0x54, 0xEF, 0x14, 0x71, 0xE4, 0x0E}},
    {6, {0x54, 0xBA, 0xC6, 0xFF, 0x74, 0x10}},
    {6, {0x00, 0x05, 0x9A, 0x3C, 0x7A, 0x00}},
    {6, {0x00, 0x05, 0x9A, 0x3C, 0x78, 0x00}},
    {6, {0x44, 0x45, 0x53, 0x54, 0x42, 0x00}},
    {6, {0x00, 0x30, 0x70, 0x00, 0x00, 0x01}},
    {6, {0x00, 0x02, 0x03, 0x04, 0x05, 0x06}},
    {3, {0x00, 0x09, 0x0F}},
}};

const std::array<MacPattern, 13> BluetoothAdapterMacs = {{
    {5, {0x65, 0x90, 0x07, 0x42, 0xF1}},
    {6, {0x00, 0x15, 0x83, 0x3D, 0x0A, 0x57}},
    {6, {0x00, 0x1F, 0x81, 0x00, 0x08, 0x30}},
    {6, {0x00, 0x1B, 0x10, 0x00, 0x2A, 0xEC}},
    {6, {0x00, 0x15, 0x83, 0x15, 0xA3, 0x10}},
    {6, {0x00, 0x15, 0x83, 0x07, 0xC6, 0x5A}},
    {6, {0x00, 0x1F, 0x81, 0x00, 0x02, 0x00}},
    {6, {0x00, 0x1F, 0x81, 0x00, 0x02, 0xDD}},
    {6, {0x00, 0x15, 0x83, 0x0B, 0x13, 0xC0}},
    {6, {0x00, 0x1F, 0x81, 0x00, 0x01, 0x00}},
    {6, {0x00, 0x30, 0x91, 0x10, 0x00, 0x26}},
    {6, {0x00, 0x25, 0x00, 0x5A, 0xC3, 0xD0}},
    {6, {0x00, 0x15, 0x83, 0x0C, 0xBF, 0xEB}},
}};

// 00-A0-C6-00-00-00 appears twice; the repeat is harmless and kept.
const std::array<MacPattern, 27> ExcludedMacs = {{
    {6, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {6, {0x00, 0x26, 0x37, 0xBD, 0x39, 0x42}},
    {6, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}},
    {2, {0x00, 0xFF}},
    {6, {0x00, 0xA0, 0xC6, 0x00, 0x00, 0x00}},
    {6, {0x20, 0x41, 0x53, 0x59, 0x4E, 0xFF}},
    {6, {0x00, 0xA0, 0xC6, 0x00, 0x00, 0x00}},
    {6, {0x00, 0x22, 0x2C, 0xFF, 0xFF, 0xFF}},
    {6, {0x00, 0x1E, 0x10, 0x1F, 0x00, 0x01}},
    {6, {0x80, 0x00, 0x60, 0x0F, 0xE8, 0x00}},
    {6, {0x44, 0x45, 0x53, 0x54, 0x4F, 0x53}},
    {3, {0x00, 0xA0, 0xD5}},
    {6, {0x00, 0x04, 0x0E, 0xFF, 0xFF, 0xFF}},
    {6, {0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
    {6, {0x58, 0x2C, 0x80, 0x13, 0x92, 0x63}},
    {6, {0x00, 0x00, 0x00, 0x00, 0x00, 0x30}},
    {6, {0x00, 0x11, 0xF5, 0x0D, 0x8A, 0xE8}},
    {6, {0x00, 0x20, 0x07, 0x01, 0x16, 0x06}},
    {6, {0x0D, 0x0B, 0x00, 0x00, 0xE0, 0x00}},
    {6, {0x90, 0x4C, 0xE5, 0x0B, 0xC8, 0x8E}},
    {6, {0x00, 0x1C, 0x23, 0x38, 0x49, 0xA4}},
    {6, {0x00, 0x12, 0x3F, 0x82, 0x7C, 0x32}},
    {6, {0x00, 0x11, 0x11, 0x32, 0xC3, 0x77}},
    {6, {0x00, 0x24, 0xD6, 0xAE, 0x3E, 0x39}},
    {6, {0x00, 0x0F, 0xB0, 0x3A, 0xB4, 0x80}},
    {6, {0x08, 0x10, 0x74, 0xA1, 0xDA, 0x1B}},
    {6, {0x00, 0x21, 0x9B, 0x2A, 0x0A, 0x9C}},
}};

namespace {

constexpr const char* kNoAddress = "0.0.0.0";

template <std::size_t N>
bool MatchesAny(const AdapterEntry& entry, const std::array<MacPattern, N>& table) {
    // Every table describes Ethernet-sized addresses; anything else never matches.
    if (entry.addressLength != 6) return false;
    return std::any_of(table.begin(), table.end(), [&entry](const MacPattern& pattern) {
        return std::equal(pattern.bytes.begin(), pattern.bytes.begin() + pattern.length, entry.address.begin());
    });
}

// IANA interface type to connection class; virtual, VPN and Bluetooth adapters never get here.
ConnectionType ClassOf(uint32_t ianaType) {
    switch (ianaType) {
    case 6:
        return ConnectionLocal;
    case 71:
        return ConnectionWireless;
    case 23:
        return ConnectionBroadband;
    case 15:
        return ConnectionFiber;
    default:
        return ConnectionOther;
    }
}

}  // namespace

NetAdapterInfo NetAdapterHelper::GetPrimaryAdapter() const {
    std::vector<AdapterEntry> adapters;
    if (!platform::ListNetAdapters(adapters)) return NetAdapterInfo();
    return SelectPrimaryAdapter(adapters, [this](const std::wstring& guidText) { return GetWlanProfileName(guidText); });
}

NetAdapterInfo NetAdapterHelper::SelectPrimaryAdapter(const std::vector<AdapterEntry>& adapters,
                                                      const WlanProfileLookup& wlanProfile) {
    NetAdapterInfo result;
    for (const AdapterEntry& adapter : adapters) {
        if (!HasGatewayAndAddress(adapter)) continue;
        if (IsVirtualMachineAdapter(adapter) || IsVpnAdapter(adapter) || IsBluetoothAdapter(adapter) ||
            IsExcludedMac(adapter)) {
            continue;
        }
        const ConnectionType type = ClassOf(adapter.type);
        std::wstring profile;
        if (type == ConnectionWireless) profile = wlanProfile(AnsiToWide(adapter.name));
        // Once an adapter is chosen, only a connected wireless one may take its place.
        if (result.type != ConnectionOther && profile.empty()) continue;

        NetAdapterInfo record;
        const std::size_t macLength = std::min<std::size_t>(adapter.addressLength, adapter.address.size());
        for (const std::string& ip : adapter.ipAddresses) {
            if (record.type == ConnectionOther && ip != kNoAddress) {
                record.type = type;
                record.typeName = ConnectionTypeNames[type];
                record.ip = ip;
                record.wlanProfile = profile;
            }
            if (macLength > 0) record.mac.assign(adapter.address.begin(), adapter.address.begin() + macLength);
            if (record.IsComplete()) {
                result = record;
                break;
            }
        }
    }
    return result;
}

bool NetAdapterHelper::HasGatewayAndAddress(const AdapterEntry& entry) {
    if (entry.gateway == kNoAddress) return false;
    return std::any_of(entry.ipAddresses.begin(), entry.ipAddresses.end(),
                       [](const std::string& ip) { return ip != kNoAddress; });
}

bool NetAdapterHelper::IsVirtualMachineAdapter(const AdapterEntry& entry) {
    return MatchesAny(entry, VirtualMachineMacPrefixes);
}

bool NetAdapterHelper::IsVpnAdapter(const AdapterEntry& entry) {
    return MatchesAny(entry, VpnAdapterMacs);
}

bool NetAdapterHelper::IsBluetoothAdapter(const AdapterEntry& entry) {
    if (entry.addressLength != 6) return false;
    return entry.description.find("Bluetooth") != std::string::npos || MatchesAny(entry, BluetoothAdapterMacs);
}

bool NetAdapterHelper::IsExcludedMac(const AdapterEntry& entry) {
    return MatchesAny(entry, ExcludedMacs);
}

std::wstring NetAdapterHelper::GetWlanProfileName(const std::wstring& guidText) const {
    using platform::Codeset;
    using platform::OnBadInput;
    const auto name = platform::EncodeText(Codeset::Ansi, guidText, OnBadInput::Fail);
    if (!name) return std::wstring();
    // An SSID is raw bytes; nearly every network names itself in UTF-8.
    const auto profile =
        platform::DecodeText(Codeset::Utf8, platform::GetConnectedWirelessNetwork(*name), OnBadInput::Replace);
    return profile ? *profile : std::wstring();
}

}  // namespace LiveModule
