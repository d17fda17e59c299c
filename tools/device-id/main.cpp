#include <cstdio>

#include "DeviceIdentity.h"

// First line: the identifier as the catalogue query sends it. Second: the User-Device value.
int main() {
    std::printf("%s\n%s\n", LiveModule::GetMacAddress(':').c_str(), LiveModule::MakeUserDevice().c_str());
    return 0;
}
