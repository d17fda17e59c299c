// Stands in for the host's Qt platform plug-in: it carries only a version, 6.4.1.0. Windows gives
// it a version resource from the build (tests/factory/CMakeLists.txt); Linux, this note.
#ifndef _WIN32
#include "platform/VersionNote.h"

LIVEMODULE_VERSION_NOTE("6.4.1.0");
#endif
