#include "platform/VersionNote.h"

LIVEMODULE_VERSION_NOTE("30.0.0");

int main() {
    return 0;
}
