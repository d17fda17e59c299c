#pragma once

#include <string>

namespace LiveModule::platform {

// Full path of the library (or executable) that contains the given address; false when unknown.
bool GetModulePathFromAddress(const void* address, std::string& path);

// Full path of the running program; false when it cannot be read.
bool GetHostExecutablePath(std::string& path);

// The user's local application-data folder without a trailing separator, or empty text.
std::string GetLocalAppDataDir();

// An exported symbol of the host process (the executable or a library it has loaded), or null.
void* FindHostSymbol(const char* name);

// The host application's version text from its own version export, or empty text when absent.
std::string GetHostVersionFromExports();

// The Qt version of the host as four dotted components ("6.3.1" becomes "6.3.1.0") from Qt core's
// qVersion export, or empty text when absent.
std::string GetQtVersionFromExports();

// Relative path, under the host executable's folder, of the Qt platform plug-in whose version note
// names the Qt version when the host exports none.
const char* QtPlatformPluginRelativePath();

}  // namespace LiveModule::platform
