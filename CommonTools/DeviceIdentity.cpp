#include "DeviceIdentity.h"

#include <cstdio>

#include "Encoding.h"
#include "ProductVersion.h"
#include "NetAdapterHelper.h"

namespace LiveModule {

std::string GetMacAddress(char separator) {
    return FormatMacAddress(NetAdapterHelper().GetPrimaryAdapter().mac, separator);
}

std::string MakeUserDevice() {
    return EncodeUserDevice(GetMacAddress(' '));
}

std::string FormatMacAddress(const std::vector<uint8_t>& mac, char separator) {
    static const std::vector<uint8_t> kFallback = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
    const std::vector<uint8_t>& bytes = mac.empty() ? kFallback : mac;
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // The separator is used as a one-character string, so NUL puts nothing between bytes.
        if (i > 0 && separator != '\0') text += separator;
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::string EncodeUserDevice(const std::string& spacedMac) {
    return Base64Encode(spacedMac + "|" + FactoryProductVersion());
}

}  // namespace LiveModule
