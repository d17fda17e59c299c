#pragma once

#include <cstdint>

// The service hello_service offers to other modules. A module asks the factory for "hello_service"
// with at least kHelloServiceApiVersion, then for this interface through slot 17 (Invoke17) with
// kHelloServiceInterface; the pointer lives as long as the module.
namespace hello {

constexpr uint64_t kHelloServiceApiVersion = 2;
constexpr intptr_t kHelloServiceInterface = 0x48454c4c;  // "HELL"

class IHelloService {
public:
    virtual const char* Greet(const char* who) = 0;
    virtual int GreetingsGiven() = 0;

protected:
    ~IHelloService() = default;
};

}  // namespace hello
