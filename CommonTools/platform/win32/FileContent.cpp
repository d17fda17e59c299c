#include "platform/FileContent.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>

#include "platform/TextCodec.h"

// OutputFile keeps a C run-time descriptor over a Win32 handle (_open_osfhandle), so its calls can
// reach the handle for WriteFile, SetFileTime and the attributes.
namespace LiveModule::platform {
namespace {

// Paths are ANSI text; the wide calls take them converted, as the system itself would.
std::wstring Wide(const std::string& path) {
    return DecodeText(Codeset::Ansi, path, OnBadInput::Replace).value_or(std::wstring());
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

bool WriteAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

HANDLE HandleOf(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Sets or clears the read-only attribute through the open handle.
bool SetReadOnly(HANDLE file, bool readOnly) {
    FILE_BASIC_INFO info{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) return false;
    DWORD attributes = info.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    attributes = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    info.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = info.LastWriteTime.QuadPart = info.ChangeTime.QuadPart = 0;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != 0;
}

FILETIME FileTimeOf(int64_t unixSeconds) {
    // FILETIME counts 100 ns steps since 1601-01-01.
    const uint64_t ticks = static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    Handle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    char buffer[16384];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            content.clear();
            return false;
        }
        if (got == 0) return true;
        content.append(buffer, got);
    }
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    static std::atomic<unsigned> counter{0};
    std::string sibling;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        sibling = path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
        created = ::CreateFileW(Wide(sibling).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    Handle file(created);
    if (!file.valid()) return false;
    bool ok = WriteAll(file.get(), content.data(), content.size());
    // The data must be on the disk before the rename makes it the file.
    ok = ok && ::FlushFileBuffers(file.get()) != 0;
    ok = file.Close() && ok;
    ok = ok && ::MoveFileExW(Wide(sibling).c_str(), Wide(path).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) ::DeleteFileW(Wide(sibling).c_str());
    return ok;
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::CreateReplacing(const std::string& path) {
    Close();
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A link (reparse point) is removed itself, never followed; a directory stays.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
        if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(wide.c_str())
                                                                     : ::DeleteFileW(wide.c_str());
        if (!removed) return false;
    }
    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: something planted after the removal fails the
    // open instead of being followed.
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (fd < 0) ::CloseHandle(file);
    return fd >= 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    return fd >= 0 && WriteAll(HandleOf(fd), static_cast<const char*>(data), size);
}

// Windows keeps one write permission for everybody: the read-only attribute.
bool OutputFile::SetPermissions(unsigned mode) {
    return fd >= 0 && SetReadOnly(HandleOf(fd), (mode & 0222) == 0);
}

bool OutputFile::RemoveWriteBits() {
    return fd >= 0 && SetReadOnly(HandleOf(fd), true);
}

bool OutputFile::SetTimes(int64_t accessTime, int64_t modificationTime) {
    if (fd < 0) return false;
    const FILETIME access = FileTimeOf(accessTime);
    const FILETIME modification = FileTimeOf(modificationTime);
    return ::SetFileTime(HandleOf(fd), nullptr, &access, &modification) != 0;
}

bool OutputFile::Close() {
    const int current = fd;
    fd = -1;
    return current < 0 || _close(current) == 0;
}

}  // namespace LiveModule::platform
