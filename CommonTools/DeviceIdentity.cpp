#include "DeviceIdentity.h"

#include "Encoding.h"

// Temporary stand-in so that the factory links before the real adapter lookup lands. It reports
// the no-adapter address.
namespace LiveModule {

std::string GetMacAddress(char separator) {
    std::string address;
    const char* bytes[] = {"ff", "ff", "ff", "00", "00", "00"};
    for (const char* byte : bytes) {
        if (!address.empty()) address += separator;
        address += byte;
    }
    return address;
}

std::string MakeUserDevice() {
    return Base64Encode(GetMacAddress(':') + " | 1.0.0.5");
}

}  // namespace LiveModule
