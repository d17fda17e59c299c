#pragma once

// The one header a module author includes: the module contract, the factory interface, the export
// signatures, the interface version and the net_request service interface.
#include "LiveModuleVersion.h"
#include "ILiveModule.h"
#include "ILiveModuleFactory.h"
#include "LiveModuleExports.h"
#include "INetRequest.h"
