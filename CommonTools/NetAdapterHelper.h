#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NetAdapters.h"

// Choice of the network adapter whose hardware address identifies the machine.
namespace LiveModule {

// How an adapter connects; indexes ConnectionTypeNames.
enum ConnectionType : int32_t {
    ConnectionOther = 0,
    ConnectionLocal = 1,
    ConnectionWireless = 2,
    ConnectionVirtual = 3,
    ConnectionVpn = 4,
    ConnectionBroadband = 5,
    ConnectionFiber = 6,
    ConnectionBluetooth = 7,
};

// Display names of the connection types, indexed by ConnectionType.
extern const std::array<std::wstring_view, 8> ConnectionTypeNames;

// The chosen adapter. A fresh record stands for "no adapter qualifies".
struct NetAdapterInfo {
    ConnectionType type = ConnectionOther;
    std::wstring typeName = L"默认网络";
    std::string ip = "0.0.0.0";  // first IPv4 address other than "0.0.0.0"
    std::wstring wlanProfile;    // network the wireless adapter is connected to; else empty
    std::vector<uint8_t> mac;    // hardware address, at most 8 bytes

    bool IsComplete() const { return type != ConnectionOther && !mac.empty(); }
};

// A hardware-address pattern: the first `length` bytes of `bytes` (2 to 6) must match.
struct MacPattern {
    uint8_t length;
    std::array<uint8_t, 6> bytes;
};

// Only ever matched against 6-byte addresses.
extern const std::array<MacPattern, 9> VirtualMachineMacPrefixes;
extern const std::array<MacPattern, 10> VpnAdapterMacs;
extern const std::array<MacPattern, 13> BluetoothAdapterMacs;
extern const std::array<MacPattern, 27> ExcludedMacs;

using AdapterEntry = platform::AdapterEntry;

// Answers the profile name of the network a wireless adapter is connected to, given the adapter's
// name as wide text; empty when it is not connected.
using WlanProfileLookup = std::function<std::wstring(const std::wstring& guidText)>;

// Stateless: create one where needed and discard it.
class NetAdapterHelper {
public:
    // The primary adapter among the machine's current adapters; a fresh record when none qualifies
    // or the adapters cannot be listed.
    NetAdapterInfo GetPrimaryAdapter() const;

    // The primary adapter of `adapters`, given in the system's order: the first qualifying one,
    // replaced by each later qualifying wireless adapter that is connected.
    static NetAdapterInfo SelectPrimaryAdapter(const std::vector<AdapterEntry>& adapters,
                                               const WlanProfileLookup& wlanProfile);

    // False when the first gateway is "0.0.0.0" or no IPv4 address differs from "0.0.0.0".
    static bool HasGatewayAndAddress(const AdapterEntry& entry);
    static bool IsVirtualMachineAdapter(const AdapterEntry& entry);
    static bool IsVpnAdapter(const AdapterEntry& entry);
    // A 6-byte adapter whose description contains "Bluetooth" or whose address is a known one.
    static bool IsBluetoothAdapter(const AdapterEntry& entry);
    static bool IsExcludedMac(const AdapterEntry& entry);

    // The profile name of the network the adapter named `guidText` is connected to; empty when it
    // is not connected, not wireless, or the question fails.
    std::wstring GetWlanProfileName(const std::wstring& guidText) const;
};

}  // namespace LiveModule
