#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The machine's identifier: the hardware address of its primary network adapter.
namespace LiveModule {

// The primary adapter's hardware address, each byte as two lowercase hex digits with `separator`
// between bytes; ff..ff:00:00:00 (in that form) when no adapter qualifies. Computed afresh each call.
std::string GetMacAddress(char separator);

// The "User-Device" header value: Base64 of the address with blanks, "|" and the product version.
std::string MakeUserDevice();

// The two steps above on given input: `mac` (ff-ff-ff-00-00-00 when empty) formatted as
// GetMacAddress does, and the header value for an address already formatted with blanks.
std::string FormatMacAddress(const std::vector<uint8_t>& mac, char separator);
std::string EncodeUserDevice(const std::string& spacedMac);

}  // namespace LiveModule
