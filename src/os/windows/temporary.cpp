// The temporary file an image is written to on Windows, and the console's
// Ctrl-C, Ctrl-Break and closing, which must not leave it behind.
#include <windows.h>
// (first: the other system headers need its types)
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cwchar>

#include "os/windows/wide.hpp"

namespace fotolume::os {

namespace {

// The temporary file an interruption must not leave behind, set while
// one exists; read by the console's handler, on a thread of its own.
wchar_t pendingPath[32768];
std::atomic<bool> pending{false};
std::atomic<HANDLE> pendingHandle{INVALID_HANDLE_VALUE};

BOOL WINAPI removeOnConsoleEvent(DWORD) {
    removePendingTemporary();
    return FALSE;  // the next handler, the system's, ends the process
}

extern "C" void removePendingAndDie(int signal) {
    removePendingTemporary();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Six letters and digits no other run of this moment picks.
std::string sixLetters(unsigned long long seed) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        name += letters[(seed >> 33) % 62];
    }
    return name;
}

}  // namespace

void removeTemporaryOnInterruption() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    SetConsoleCtrlHandler(removeOnConsoleEvent, TRUE);
    for (int signal : {SIGINT, SIGTERM, SIGABRT, SIGSEGV, SIGFPE, SIGILL})
        std::signal(signal, removePendingAndDie);
}

void ignoreBrokenPipes() {}  // a closed peer is a failed write here already

// The file is open, and an open file is removed only once closed: the
// handle is closed first (the process is ending; a write after it fails).
void removePendingTemporary() {
    if (!pending) return;
    const HANDLE handle = pendingHandle.exchange(INVALID_HANDLE_VALUE);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    DeleteFileW(pendingPath);
}

void forgetTemporary() {
    pending = false;
    pendingHandle = INVALID_HANDLE_VALUE;
}

// Shared for deletion (so that it can be renamed while open) and locked
// whole, which is what a clean-up tries before it removes a file.
Temporary createTemporary(const std::string& prefix, const std::string&) {
    Temporary made;
    unsigned long long seed = GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = prefix + sixLetters(seed + attempt);
        const std::wstring wide = widen(path);
        if (wide.size() >= sizeof pendingPath / sizeof pendingPath[0]) {
            made.error = ENAMETOOLONG;
            return made;
        }
        std::wcscpy(pendingPath, wide.c_str());
        pending = true;  // before it exists: an interruption right after must find it
        const HANDLE handle =
            CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            pending = false;
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            made.error = errnoOf(GetLastError());
            return made;
        }
        OVERLAPPED whole{};
        LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
        made.fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (made.fd < 0) {
            CloseHandle(handle);
            DeleteFileW(wide.c_str());
            pending = false;
            made.error = EMFILE;
            return made;
        }
        made.path = path;
        pendingHandle = handle;
        return made;
    }
    made.error = EEXIST;
    return made;
}

int durable(int fd) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) ? 0 : EIO;
}

// The previous image stays whole until the new one takes its name; one
// another program holds open cannot be replaced, and is kept.
int replaceWith(const std::string& temporary, const std::string& target) {
    if (MoveFileExW(widen(temporary).c_str(), widen(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED && describe(target).kind == Kind::Regular ? EBUSY
                                                                                  : errnoOf(error);
}

void discardTemporary(Temporary& temporary) {
    // Closed by an interruption's clean-up already, or closed here.
    const bool open = pendingHandle.exchange(INVALID_HANDLE_VALUE) != INVALID_HANDLE_VALUE ||
                      !pending;
    if (temporary.fd >= 0 && open) _close(temporary.fd);
    temporary.fd = -1;
    if (!temporary.path.empty()) DeleteFileW(widen(temporary.path).c_str());
    temporary.path.clear();
    pending = false;
}

}  // namespace fotolume::os
