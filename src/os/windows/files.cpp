// Files on Windows: describing, opening, reading and writing them, through
// the C runtime's descriptors over the system's handles, every path UTF-8.
#include <windows.h>
// (first: the other system headers need its types)
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "os/windows/wide.hpp"

namespace fotolume::os {

ClosedAtStart guardStandardDescriptors() {
    bool closed[3] = {false, false, false};
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2) continue;
        closed[fd] = true;
        if (_wopen(L"NUL", fd == 0 ? _O_RDONLY : _O_WRONLY) != fd) _exit(1);
    }
    // The bytes as written: no carriage return before a line end (an image
    // to "-"), and the console shows UTF-8 as UTF-8.
    for (int fd = 0; fd <= 2; ++fd) _setmode(fd, _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    return ClosedAtStart{closed[0], closed[1], closed[2]};
}

FileInfo describeHandle(HANDLE handle) {
    FileInfo info;
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        info.kind = type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR ? Kind::Missing
                                                                             : Kind::Other;
        info.error = info.kind == Kind::Missing ? EBADF : 0;
        return info;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (!GetFileInformationByHandle(handle, &about)) {
        info.error = errnoOf(GetLastError());
        return info;
    }
    info.kind = (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Regular;
    info.size = static_cast<long long>(about.nFileSizeHigh) << 32 | about.nFileSizeLow;
    info.device = about.dwVolumeSerialNumber;
    info.inode = static_cast<unsigned long long>(about.nFileIndexHigh) << 32 | about.nFileIndexLow;
    // Hundreds of nanoseconds since 1601.
    const unsigned long long ticks =
        static_cast<unsigned long long>(about.ftLastWriteTime.dwHighDateTime) << 32 |
        about.ftLastWriteTime.dwLowDateTime;
    info.modified = static_cast<long long>(ticks) * 100;
    return info;
}

FileInfo describe(const std::string& path) {
    // Opened for nothing but its description, whoever else has it open.
    const HANDLE handle =
        CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FileInfo missing;
        missing.error = errnoOf(GetLastError());
        return missing;
    }
    const FileInfo info = describeHandle(handle);
    CloseHandle(handle);
    return info;
}

FileInfo describeOpen(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) {
        FileInfo missing;
        missing.error = EBADF;
        return missing;
    }
    return describeHandle(reinterpret_cast<HANDLE>(handle));
}

int openForReading(const std::string& path, int& error) {
    return openHandle(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY, error);
}

std::FILE* streamOf(int fd, const char* mode) {
    std::FILE* stream = _fdopen(fd, mode);
    if (stream == nullptr) _close(fd);
    return stream;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
}

int duplicate(int fd) { return _dup(fd); }

int descriptorOf(std::FILE* stream) { return _fileno(stream); }

void closeFile(int fd) { _close(fd); }

int closeChecked(int fd) { return _close(fd) == 0 ? 0 : errno; }

long long readAt(int fd, void* into, std::size_t size, long long offset) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    std::size_t got = 0;
    while (got < size) {
        OVERLAPPED at{};
        const unsigned long long place = static_cast<unsigned long long>(offset) + got;
        at.Offset = static_cast<DWORD>(place);
        at.OffsetHigh = static_cast<DWORD>(place >> 32);
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(size - got, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(handle, static_cast<char*>(into) + got, ask, &read, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return got > 0 ? static_cast<long long>(got) : -1;
        }
        if (read == 0) break;
        got += read;
    }
    return static_cast<long long>(got);
}

long long readSome(int fd, void* into, std::size_t size) {
    return _read(fd, into, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

int writeAll(int fd, const void* bytes, std::size_t size) {
    const char* from = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const unsigned ask = static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30));
        const int wrote = _write(fd, from + done, ask);
        if (wrote <= 0) return wrote < 0 ? errno : EIO;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

bool isWritable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return true;
    errno = attributes == INVALID_FILE_ATTRIBUTES ? errnoOf(GetLastError()) : EACCES;
    return false;
}

bool removeFile(const std::string& path) { return DeleteFileW(widen(path).c_str()) != 0; }

int namedDescriptor(const std::string& name) {
    if (name == "-" || name == "/dev/stdout") return STANDARD_OUTPUT;
    if (name == "/dev/stderr") return STANDARD_ERROR;
    return -1;
}

bool isOpen(int fd) { return _get_osfhandle(fd) != -1; }

int openForWriting(const std::string& path, bool truncate, int& error) {
    return openHandle(path, GENERIC_WRITE, truncate ? TRUNCATE_EXISTING : OPEN_EXISTING,
                      _O_WRONLY, error);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(SEPARATORS);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    if (slash == 2 && path[1] == ':') return path.substr(0, 3);  // a drive's root: "C:\"
    return path.substr(0, slash);
}

}  // namespace fotolume::os
