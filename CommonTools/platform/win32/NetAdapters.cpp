#include "platform/NetAdapters.h"

// winsock2 before windows.h, as iphlpapi wants it.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <wlanapi.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/TextCodec.h"

namespace LiveModule::platform {
namespace {

constexpr const char* kNoAddress = "0.0.0.0";
// The flag of the network an interface is connected to (wlanapi.h of mingw-w64 lacks it).
constexpr DWORD kNetworkConnected = 0x00000001;
// WLAN_AVAILABLE_NETWORK_INCLUDE_ALL_MANUAL_HIDDEN_PROFILES
constexpr DWORD kIncludeHiddenProfiles = 0x00000002;

struct WlanMemoryFree {
    void operator()(void* memory) const { ::WlanFreeMemory(memory); }
};

// A WLAN client session, closed at the end.
class WlanSession {
public:
    WlanSession() {
        DWORD version = 0;
        if (::WlanOpenHandle(2, nullptr, &version, &handle_) != ERROR_SUCCESS) handle_ = nullptr;
    }
    ~WlanSession() {
        if (handle_) ::WlanCloseHandle(handle_, nullptr);
    }
    WlanSession(const WlanSession&) = delete;
    WlanSession& operator=(const WlanSession&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

// "{XXXXXXXX-XXXX-...}", the form GetAdaptersInfo names adapters by.
std::string GuidText(const GUID& guid) {
    wchar_t wide[64] = {};
    if (::StringFromGUID2(guid, wide, 64) == 0) return {};
    std::string text;
    for (const wchar_t* c = wide; *c; ++c) text += static_cast<char>(*c);
    return text;
}

}  // namespace

bool ListNetAdapters(std::vector<AdapterEntry>& adapters) {
    adapters.clear();
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    DWORD result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the size query and the call; a few rounds settle it.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size, 0);
        result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA) return true;
    if (result != ERROR_SUCCESS) return false;
    for (auto* info = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); info; info = info->Next) {
        AdapterEntry entry;
        entry.name = info->AdapterName;
        entry.description = info->Description;
        entry.type = info->Type;
        entry.addressLength = std::min<uint32_t>(info->AddressLength, kMaxAdapterAddressLength);
        std::copy(info->Address, info->Address + entry.addressLength, entry.address.begin());
        for (const IP_ADDR_STRING* ip = &info->IpAddressList; ip; ip = ip->Next) {
            entry.ipAddresses.emplace_back(ip->IpAddress.String);
        }
        if (entry.ipAddresses.empty()) entry.ipAddresses.emplace_back(kNoAddress);
        if (info->GatewayList.IpAddress.String[0] != '\0') entry.gateway = info->GatewayList.IpAddress.String;
        adapters.push_back(std::move(entry));
    }
    return true;
}

// The profile name of the network the adapter's wireless interface lists as connected, as UTF-8.
std::string GetConnectedWirelessNetwork(const std::string& adapterName) {
    if (adapterName.empty()) return {};
    const WlanSession session;
    if (!session.get()) return {};
    WLAN_INTERFACE_INFO_LIST* rawInterfaces = nullptr;
    if (::WlanEnumInterfaces(session.get(), nullptr, &rawInterfaces) != ERROR_SUCCESS || !rawInterfaces) return {};
    const std::unique_ptr<WLAN_INTERFACE_INFO_LIST, WlanMemoryFree> interfaces(rawInterfaces);
    for (DWORD i = 0; i < interfaces->dwNumberOfItems; ++i) {
        const WLAN_INTERFACE_INFO& item = interfaces->InterfaceInfo[i];
        if (GuidText(item.InterfaceGuid) != adapterName) continue;
        WLAN_AVAILABLE_NETWORK_LIST* rawNetworks = nullptr;
        if (::WlanGetAvailableNetworkList(session.get(), &item.InterfaceGuid, kIncludeHiddenProfiles, nullptr,
                                          &rawNetworks) !=
                ERROR_SUCCESS ||
            !rawNetworks) {
            return {};
        }
        const std::unique_ptr<WLAN_AVAILABLE_NETWORK_LIST, WlanMemoryFree> networks(rawNetworks);
        for (DWORD n = 0; n < networks->dwNumberOfItems; ++n) {
            const WLAN_AVAILABLE_NETWORK& network = networks->Network[n];
            if (!(network.dwFlags & kNetworkConnected)) continue;
            const std::wstring profile(network.strProfileName,
                                       wcsnlen(network.strProfileName, WLAN_MAX_NAME_LENGTH));
            return EncodeText(Codeset::Utf8, profile, OnBadInput::Replace).value_or(std::string());
        }
        return {};
    }
    return {};
}

}  // namespace LiveModule::platform
