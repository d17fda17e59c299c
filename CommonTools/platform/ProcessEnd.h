#pragma once

namespace LiveModule::platform {

// Ends the running process at once, as a crash would: no destructors, no exit handlers, no flushing.
[[noreturn]] void EndProcessAbruptly();

}  // namespace LiveModule::platform
