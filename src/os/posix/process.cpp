// The process on a POSIX system: its terminal, its processors, its own
// program, its limits, and waiting on a folder.
#ifdef FOTOLUME_HAVE_SCHED_GETAFFINITY
#include <sched.h>
#endif
#ifdef FOTOLUME_HAVE_TIOCGWINSZ
#include <sys/ioctl.h>
#endif
#ifdef FOTOLUME_HAVE_INOTIFY
#include <poll.h>
#include <sys/inotify.h>
#endif
#include <limits.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "os/os.hpp"

namespace fotolume::os {

int withUtf8Arguments(int argc, char** argv, int (*body)(int, char**)) {
    return body(argc, argv);  // as the system passes them
}

bool isTerminal(int fd) { return isatty(fd) == 1; }

int terminalColumns() {
#ifdef FOTOLUME_HAVE_TIOCGWINSZ
    struct winsize size {};
    if (ioctl(STANDARD_ERROR, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 80;
}

int processorsAvailable() {
#ifdef FOTOLUME_HAVE_SCHED_GETAFFINITY
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
#endif
    // Elsewhere: every processor of the machine, whatever the process may use.
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

long long processId() { return static_cast<long long>(getpid()); }

std::string programFolder() {
#ifdef FOTOLUME_HAVE_PROC
    char self[4096];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    if (size > 0) {
        const std::string program(self, static_cast<std::size_t>(size));
        return program.substr(0, program.rfind('/') + 1);
    }
#endif
    return "";
}

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string realPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string resolved = real;
    std::free(real);
    return resolved;
}

void becomeProgram(const std::string& program, char** argv) { execv(program.c_str(), argv); }

void dieWith(const char* message, std::size_t size, int status) {
    if (write(STANDARD_ERROR, message, size) < 0) {
        // nothing more can be said
    }
    _exit(status);
}

long long raiseDescriptorLimit() {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? 1 << 20 : static_cast<long long>(limit.rlim_cur);
}

// inotify on the folder where the system has it (so a file renamed over a
// watched one is seen); a plain pause elsewhere.
FolderWatch::FolderWatch(const std::string& folder) {
#ifdef FOTOLUME_HAVE_INOTIFY
    const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (events >= 0)
        inotify_add_watch(
            events, folder.c_str(),
            IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB);
    handle_ = events;
#else
    (void)folder;
#endif
}

FolderWatch::~FolderWatch() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

void FolderWatch::wait(int milliseconds) {
#ifdef FOTOLUME_HAVE_INOTIFY
    if (handle_ >= 0) {
        pollfd wait{static_cast<int>(handle_), POLLIN, 0};
        if (poll(&wait, 1, milliseconds) > 0) {
            char drained[4096];
            while (read(static_cast<int>(handle_), drained, sizeof drained) > 0) {
            }
        }
        return;
    }
#endif
    // Nothing tells of changes: look again at a bounded rate.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds < 100 ? milliseconds : 100));
}

}  // namespace fotolume::os
