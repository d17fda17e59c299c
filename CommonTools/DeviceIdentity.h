#pragma once

#include <string>

// The machine's identifier: the hardware address of its primary network adapter.
namespace LiveModule {

// The primary adapter's hardware address, each byte as two lowercase hex digits with `separator`
// between bytes; ff..ff:00:00:00 (in that form) when no adapter qualifies. Computed afresh each call.
std::string GetMacAddress(char separator);

// The "User-Device" header value: Base64 of the address with blanks, "|" and the product version.
std::string MakeUserDevice();

}  // namespace LiveModule
