#include "platform/NetAdapters.h"

// <net/if.h> must come before <linux/wireless.h> so the kernel header leaves glibc's ifreq alone.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <linux/wireless.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace LiveModule::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNoAddress = "0.0.0.0";

// IANA ifType numbers the selection tells apart.
constexpr uint32_t kIanaOther = 1;
constexpr uint32_t kIanaTokenRing = 9;
constexpr uint32_t kIanaEthernet = 6;
constexpr uint32_t kIanaFddi = 15;
constexpr uint32_t kIanaPpp = 23;
constexpr uint32_t kIanaLoopback = 24;
constexpr uint32_t kIanaSlip = 28;
constexpr uint32_t kIanaIeee80211 = 71;
constexpr uint32_t kIanaTunnel = 131;

struct IfAddrsFree {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

struct NameIndexFree {
    void operator()(struct if_nameindex* list) const { if_freenameindex(list); }
};

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

fs::path InterfaceDir(const std::string& name) {
    return fs::path("/sys/class/net") / name;
}

// A wireless adapter shows itself as an Ethernet link with a cfg80211 phy or a wireless-extensions
// directory beside it.
bool IsWirelessInterface(const std::string& name) {
    std::error_code error;
    return fs::exists(InterfaceDir(name) / "phy80211", error) || fs::exists(InterfaceDir(name) / "wireless", error);
}

// The kernel's ARPHRD link type mapped onto the IANA numbers Windows reports.
uint32_t IanaInterfaceType(const std::string& name) {
    const std::string text = ReadFirstLine(InterfaceDir(name) / "type");
    char* end = nullptr;
    const unsigned long linkType = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return kIanaOther;
    switch (linkType) {
    case ARPHRD_ETHER:
        return IsWirelessInterface(name) ? kIanaIeee80211 : kIanaEthernet;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP:
        return kIanaIeee80211;
    case ARPHRD_PPP:
        return kIanaPpp;
    case ARPHRD_LOOPBACK:
        return kIanaLoopback;
    case ARPHRD_FDDI:
        return kIanaFddi;
    case ARPHRD_IEEE802_TR:
        return kIanaTokenRing;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
        return kIanaSlip;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IPDDP:
    case ARPHRD_RAWIP:
    case ARPHRD_NONE:  // tun and WireGuard devices
        return kIanaTunnel;
    default:
        return kIanaOther;
    }
}

// "aa:bb:cc:..." as sysfs prints it; longer addresses (InfiniBand) keep their first 8 bytes, the
// most Windows carries.
void ReadHardwareAddress(const std::string& name, AdapterEntry& entry) {
    std::istringstream in(ReadFirstLine(InterfaceDir(name) / "address"));
    std::string group;
    while (entry.addressLength < kMaxAdapterAddressLength && std::getline(in, group, ':')) {
        char* end = nullptr;
        const unsigned long byte = std::strtoul(group.c_str(), &end, 16);
        if (group.empty() || *end != '\0' || byte > 0xFF) break;
        entry.address[entry.addressLength++] = static_cast<uint8_t>(byte);
    }
}

// The driver's name from the parent device, else the interface name. An adapter on the Bluetooth
// bus (a PAN link) says "Bluetooth" first, as its Windows description does.
std::string Describe(const std::string& name) {
    const fs::path device = InterfaceDir(name) / "device";
    std::string description = name;
    std::ifstream uevent(device / "uevent");
    for (std::string line; std::getline(uevent, line);) {
        if (line.rfind("DRIVER=", 0) == 0 && line.size() > 7) description = line.substr(7);
    }
    std::error_code error;
    const fs::path subsystem = fs::read_symlink(device / "subsystem", error);
    if (!error && subsystem.filename() == "bluetooth") description = "Bluetooth " + description;
    return description;
}

// Default routes of the main table from /proc/net/route, the lowest metric per interface.
std::map<std::string, std::string> ReadDefaultGateways() {
    std::map<std::string, std::pair<unsigned long, std::string>> best;
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string iface;
        uint32_t destination = 0, gateway = 0, mask = 0;
        unsigned flags = 0, refCount = 0, use = 0;
        unsigned long metric = 0;
        fields >> iface >> std::hex >> destination >> gateway >> flags >> std::dec >> refCount >> use >> metric >>
            std::hex >> mask;
        if (!fields || destination != 0 || mask != 0 || (flags & RTF_UP) == 0) continue;
        // The kernel prints the network-order word as a host integer, so it goes back unchanged.
        in_addr address{};
        address.s_addr = gateway;
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) continue;
        const auto found = best.find(iface);
        if (found == best.end() || metric < found->second.first) best[iface] = {metric, text};
    }
    std::map<std::string, std::string> gateways;
    for (const auto& [iface, route] : best) gateways[iface] = route.second;
    return gateways;
}

// An address label such as "eth0:1" belongs to "eth0"; interface names cannot hold ':'.
std::string InterfaceOfLabel(const char* label) {
    const std::string name(label);
    return name.substr(0, name.find(':'));
}

}  // namespace

bool ListNetAdapters(std::vector<AdapterEntry>& adapters) {
    adapters.clear();
    const std::unique_ptr<struct if_nameindex, NameIndexFree> names(if_nameindex());
    ifaddrs* rawAddresses = nullptr;
    if (!names || getifaddrs(&rawAddresses) != 0) return false;
    const std::unique_ptr<ifaddrs, IfAddrsFree> addressList(rawAddresses);

    std::vector<std::pair<unsigned, std::string>> interfaces;
    for (const struct if_nameindex* item = names.get(); item->if_index != 0 && item->if_name != nullptr; ++item) {
        interfaces.emplace_back(item->if_index, item->if_name);
    }
    std::sort(interfaces.begin(), interfaces.end());

    // Windows lists an adapter without a working link with "0.0.0.0", so only interfaces that are
    // up and running contribute their addresses.
    std::map<std::string, std::vector<std::string>> ipv4;
    for (const ifaddrs* item = addressList.get(); item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
        if ((item->ifa_flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING)) continue;
        in_addr address{};
        std::memcpy(&address, &reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr, sizeof address);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) != nullptr) {
            ipv4[InterfaceOfLabel(item->ifa_name)].emplace_back(text);
        }
    }
    const std::map<std::string, std::string> gateways = ReadDefaultGateways();

    for (const auto& [index, name] : interfaces) {
        AdapterEntry entry;
        entry.name = name;
        entry.description = Describe(name);
        entry.type = IanaInterfaceType(name);
        ReadHardwareAddress(name, entry);
        const auto addresses = ipv4.find(name);
        entry.ipAddresses = addresses != ipv4.end() ? addresses->second : std::vector<std::string>{kNoAddress};
        const auto gateway = gateways.find(name);
        if (gateway != gateways.end()) entry.gateway = gateway->second;
        adapters.push_back(std::move(entry));
    }
    return true;
}

// The wireless-extensions query answers for cfg80211 drivers too; it fills the SSID only while the
// adapter is associated.
std::string GetConnectedWirelessNetwork(const std::string& adapterName) {
    iwreq request{};
    if (adapterName.empty() || adapterName.size() >= sizeof request.ifr_ifrn.ifrn_name) return {};
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    char essid[IW_ESSID_MAX_SIZE + 1] = {};
    std::memcpy(request.ifr_ifrn.ifrn_name, adapterName.data(), adapterName.size());
    request.u.essid.pointer = essid;
    request.u.essid.length = sizeof essid;
    const int result = ioctl(fd, SIOCGIWESSID, &request);
    close(fd);
    if (result != 0 || request.u.essid.flags == 0) return {};
    return std::string(essid, std::min<std::size_t>(request.u.essid.length, IW_ESSID_MAX_SIZE));
}

}  // namespace LiveModule::platform
