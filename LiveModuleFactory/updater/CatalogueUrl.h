#pragma once

#include <string>

// Where the catalogue is asked: one of three servers, chosen by the environment argument.
namespace LiveModule {

// The server's base URL (scheme, host, trailing "/"): env 1 and 2 the alternative servers, any
// other value the default one. The three are set when the library is built.
std::string CatalogueBaseUrl(int env);

// The query URL on a server for a device; the identifier goes in as it is, not percent-encoded.
std::string CatalogueQueryUrl(const std::string& baseUrl, const std::string& deviceId);

}  // namespace LiveModule
