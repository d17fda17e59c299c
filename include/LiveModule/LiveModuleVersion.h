#pragma once

#include <cstdint>

namespace LiveModule {

// The one interface version: the factory's API version, the lowest module API version the factory
// accepts, and what a module reports unless it says otherwise.
constexpr uint64_t kInterfaceVersion = 202211110ULL;

// Product version of the factory library and of the built-in net_request module.
constexpr const char* kFactoryProductVersion = "1.0.0.5";

}  // namespace LiveModule
