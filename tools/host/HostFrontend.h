#pragma once

#include <string>

// What our host programs define in place of the streaming application: the front-end event
// registration functions and the version exports the factory looks up in the host process.
namespace LiveModule::host {

// The texts the version exports return; an empty text makes the export return null (no version).
void SetHostVersion(const std::string& version);
void SetQtVersion(const std::string& version);

// Calls every registered front-end callback with the event, in registration order.
void FireFrontendEvent(int event);

// Number of callbacks currently registered.
size_t FrontendCallbackCount();

}  // namespace LiveModule::host
