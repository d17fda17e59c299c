#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reading and writing whole files, and writing one file piece by piece. Paths are narrow ANSI
// text, passed on as given. No call throws; each reports failure as false.
namespace LiveModule::platform {

// The whole content of a file. False when it cannot be opened or read (a directory cannot).
bool ReadWholeFile(const std::string& path, std::string& content);

// Replaces the content of `path` so that a reader, or the disk after a crash, sees the old content
// or the new one, never a mix or a shortened file: the new content goes to a fresh file beside it
// (named path + ".tmp-" + a unique suffix), reaches the disk, and is renamed over `path`. On
// failure `path` is untouched and the fresh file is removed; only a writer that dies leaves one.
bool ReplaceFileContent(const std::string& path, const std::string& content);

// One file being written. Closed when destroyed.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates an empty file at `path` with read and write permission for all, less the umask.
    // Whatever is there already is removed first unless it is a directory; a link is removed
    // itself, so the new file never lands where a link points.
    bool CreateReplacing(const std::string& path);
    bool Write(const void* data, std::size_t size);
    // Sets the permission bits (0777 at most) as given, without the umask.
    bool SetPermissions(unsigned mode);
    // Clears every write bit, leaving the other permission bits as they are.
    bool RemoveWriteBits();
    // Access and modification times in seconds since 1970 (UTC).
    bool SetTimes(int64_t accessTime, int64_t modificationTime);
    // Reports the errors that show only when the file is closed.
    bool Close();

private:
    int fd = -1;
};

}  // namespace LiveModule::platform
