#pragma once

#include <string>
#include <sys/types.h>

namespace LiveModule::pack {

// A file written under a temporary name beside its destination and renamed over it when complete,
// so a reader (or the catalogue server) sees the old file or the whole new one, never a part.
// Without Commit the temporary file is removed again.
class AtomicFile {
public:
    explicit AtomicFile(std::string destination);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the empty temporary file; its path is TempPath().
    bool Create(std::string& error);
    const std::string& TempPath() const { return temp; }

    // Flushes the temporary file to disk, gives it `mode` and renames it over the destination.
    bool Commit(mode_t mode, std::string& error);

private:
    std::string destination;
    std::string temp;
    bool committed = false;
};

// The permission bits a new file gets from this process: 0666 less the umask.
mode_t NewFileMode();

}  // namespace LiveModule::pack
