#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The machine's network adapters as the device identifier needs them: one entry per adapter with
// its hardware address, IANA interface type, IPv4 addresses and default gateway.
namespace LiveModule::platform {

constexpr std::size_t kMaxAdapterAddressLength = 8;

struct AdapterEntry {
    std::string name;         // the interface name (the adapter's GUID text on Windows)
    std::string description;  // a human-readable label of the hardware behind the adapter
    uint32_t type = 1;        // IANA ifType: 6 Ethernet, 71 IEEE 802.11, 23 PPP, 24 loopback, ...
    std::array<uint8_t, kMaxAdapterAddressLength> address{};
    uint32_t addressLength = 0;            // bytes of `address` in use, at most 8
    std::vector<std::string> ipAddresses;  // dotted IPv4 texts in order; just "0.0.0.0" when none
    std::string gateway = "0.0.0.0";       // the first default gateway, "0.0.0.0" when none
};

// Fills `adapters` in the system's order. False, with `adapters` empty, when the list cannot be had.
bool ListNetAdapters(std::vector<AdapterEntry>& adapters);

// The name (SSID bytes) of the wireless network the adapter is connected to; empty when it is not
// wireless, not connected, or the question cannot be asked.
std::string GetConnectedWirelessNetwork(const std::string& adapterName);

}  // namespace LiveModule::platform
