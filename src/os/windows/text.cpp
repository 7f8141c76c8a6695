// Windows: UTF-8 and the system's wide strings, its errors as errno values
// worded as everywhere else, the program's arguments, and text kept in
// memory.
#include <windows.h>
// (first: the other system headers need its types)
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "os/windows/wide.hpp"

namespace fotolume::os {

std::wstring widen(const std::string& text) {
    if (text.empty()) return L"";
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;  // another program has the file open
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    default:
        return EIO;
    }
}

// The C runtime's own words differ from the other systems'; the messages a
// user can meet are worded as there.
std::string errorText(int error) {
    switch (error) {
    case ENOENT:
        return "No such file or directory";
    case EACCES:
        return "Permission denied";
    case EBUSY:
        return "The file is open in another program";
    case EEXIST:
        return "File exists";
    case ENOSPC:
        return "No space left on device";
    case EISDIR:
        return "Is a directory";
    case ENOTDIR:
        return "Not a directory";
    case ENAMETOOLONG:
        return "File name too long";
    case EPIPE:
        return "Broken pipe";
    case EBADF:
        return "Bad file descriptor";
    case ENOMEM:
        return "Cannot allocate memory";
    case EIO:
        return "Input/output error";
    default:
        return std::strerror(error);
    }
}

int openHandle(const std::string& path, DWORD access, DWORD disposition, int flags, int& error) {
    const HANDLE handle =
        CreateFileW(widen(path).c_str(), access,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = errnoOf(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        error = EMFILE;
    }
    return fd;
}

int withUtf8Arguments(int argc, char** argv, int (*body)(int, char**)) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return body(argc, argv);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
    LocalFree(wide);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return body(count, pointers.data());
}

namespace {

// A file of the temporary folder's, gone when closed (the C runtime's
// tmpfile() makes its files in the drive's root, which few may write).
std::FILE* scratchFile() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"fot", 0, name) == 0)
        return nullptr;
    const HANDLE handle =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    return streamOf(fd, "w+b");
}

}  // namespace

// No reader over memory here: the text is copied to a scratch file.
std::FILE* readerOf(char* text, std::size_t size) {
    std::FILE* stream = scratchFile();
    if (stream == nullptr) return nullptr;
    if (std::fwrite(text, 1, size, stream) != size || std::fflush(stream) != 0) {
        std::fclose(stream);
        return nullptr;
    }
    std::rewind(stream);
    return stream;
}

MemoryStream::MemoryStream() : stream_(scratchFile()) {}

MemoryStream::~MemoryStream() {
    if (stream_ != nullptr) std::fclose(stream_);
}

std::string MemoryStream::take() {
    std::string text;
    if (stream_ == nullptr) return text;
    std::fflush(stream_);
    std::rewind(stream_);
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, stream_)) > 0;)
        text.append(block, got);
    std::fclose(stream_);
    stream_ = nullptr;
    return text;
}

}  // namespace fotolume::os
