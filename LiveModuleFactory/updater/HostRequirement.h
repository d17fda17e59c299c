#pragma once

#include <string>

namespace LiveModule {

// Whether a module or package that needs at least host version `appVersion` may be used by a host
// of `hostVersion`. Either text empty: yes. Versions that cannot be compared (a component without
// leading digits, or beyond int32) give no: nothing is installed on a requirement nobody can check.
bool SuitsHost(const std::string& appVersion, const std::string& hostVersion);

}  // namespace LiveModule
