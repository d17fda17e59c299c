#pragma once

#include <cstddef>

namespace LiveModule::platform {

// Writes all of `data` to `fd`, going on after short writes and interruptions; false on an error.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace LiveModule::platform
