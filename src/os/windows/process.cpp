// The process on Windows: its console, its processors, its own program,
// starting the preview program, and waiting on a folder.
#include <windows.h>
// (first: the other system headers need its types)
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "os/windows/wide.hpp"

namespace fotolume::os {

namespace {

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// One argument as the C runtime's command-line parser reads it back.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring text = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        text.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        text += c;
    }
    text.append(2 * slashes, L'\\');
    return text + L"\"";
}

}  // namespace

// A console, not the null device (which the C runtime counts as one).
bool isTerminal(int fd) {
    DWORD mode = 0;
    return GetConsoleMode(handleOf(fd), &mode) != 0;
}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO about{};
    if (GetConsoleScreenBufferInfo(handleOf(STANDARD_ERROR), &about))
        return about.srWindow.Right - about.srWindow.Left + 1;
    return 80;
}

int processorsAvailable() {
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (count > 0) return static_cast<int>(count);
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

long long processId() { return static_cast<long long>(GetCurrentProcessId()); }

std::string programFolder() {
    std::wstring self(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (size == 0 || size >= self.size()) return "";
    self.resize(size);
    const std::string program = narrow(self);
    return program.substr(0, program.find_last_of(SEPARATORS) + 1);
}

bool isExecutable(const std::string& path) { return describe(path).kind == Kind::Regular; }

std::string realPath(const std::string& path) {
    wchar_t full[32768];
    const DWORD size = GetFullPathNameW(widen(path).c_str(), 32768, full, nullptr);
    return size == 0 || size >= 32768 ? "" : narrow(std::wstring(full, size));
}

// No process takes another's place here: the program runs as a child with
// the same console and streams, and its status ends this one.
void becomeProgram(const std::string& program, char** argv) {
    std::wstring line = quoted(widen(program));
    for (int i = 1; argv[i] != nullptr; ++i) line += L" " + quoted(widen(argv[i]));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = handleOf(STANDARD_INPUT);
    start.hStdOutput = handleOf(STANDARD_OUTPUT);
    start.hStdError = handleOf(STANDARD_ERROR);
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(widen(program).c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED, nullptr, nullptr, &start, &child))
        return;
    // In a job that ends with this process, however this one is ended.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
            AssignProcessToJobObject(job, child.hProcess);
    ResumeThread(child.hThread);
    SetConsoleCtrlHandler(nullptr, TRUE);  // Ctrl-C is the child's to answer
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    std::_Exit(static_cast<int>(status));
}

void dieWith(const char* message, std::size_t size, int status) {
    if (_write(STANDARD_ERROR, message, static_cast<unsigned>(size)) < 0) {
        // nothing more can be said
    }
    _exit(status);
}

// Sockets are the system's handles, not the C runtime's descriptors: only
// the runtime's streams have a limit, raised to its most.
long long raiseDescriptorLimit() {
    _setmaxstdio(8192);
    return 16384;
}

FolderWatch::FolderWatch(const std::string& folder) {
    const HANDLE change = FindFirstChangeNotificationW(
        widen(folder).c_str(), FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
            FILE_NOTIFY_CHANGE_ATTRIBUTES);
    if (change != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<long long>(change);
}

FolderWatch::~FolderWatch() {
    if (handle_ != -1) FindCloseChangeNotification(reinterpret_cast<HANDLE>(handle_));
}

void FolderWatch::wait(int milliseconds) {
    if (handle_ == -1) {
        Sleep(static_cast<DWORD>(milliseconds < 100 ? milliseconds : 100));
        return;
    }
    const HANDLE change = reinterpret_cast<HANDLE>(handle_);
    if (WaitForSingleObject(change, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0)
        FindNextChangeNotification(change);
}

}  // namespace fotolume::os
