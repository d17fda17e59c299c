// Stands in for the host's Qt platform plug-in: it carries only a version note.
#include "platform/VersionNote.h"

LIVEMODULE_VERSION_NOTE("6.4.1.0");
