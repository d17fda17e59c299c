#pragma once

#include <string>

namespace LiveModule::platform {

// The system's US English text for a Win32 error code, without the trailing line end; empty when it
// has none.
std::string SystemErrorText(unsigned long code);

}  // namespace LiveModule::platform
