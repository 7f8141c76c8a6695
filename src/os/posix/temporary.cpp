// The temporary file an image is written to on a POSIX system, and the
// signals that must not leave it behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "os/os.hpp"

namespace fotolume::os {

namespace {

// The temporary file that a signal must not leave behind. Set while one
// exists; read by the handler, which may run on any thread.
char pendingPath[4096];
volatile std::sig_atomic_t pending = 0;
// Every signal whose default action ends the process and that can be
// caught, the synchronous faults among them (the real-time ones are added
// at run time: their numbers are known only then).
const int CLEANUP_SIGNALS[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
    SIGPROF,   SIGXCPU, SIGABRT, SIGBUS,  SIGSYS,  SIGTRAP, SIGSEGV, SIGFPE,  SIGILL,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

extern "C" void removePendingAndDie(int signal) {
    removePendingTemporary();
    // Die of the same signal, so the caller sees how the run ended. A fault
    // (SIGSEGV and the like) comes back at once when the handler returns to
    // the instruction that raised it; a sent one is delivered then.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Only a signal left at its default: an ignored one (nohup, a background
// job) stays ignored, and a host's handler (a test harness's timer, a
// sanitizer's fault report) stays its own.
void catchForCleanup(int signal) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0) return;
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = removePendingAndDie;
    sigfillset(&action.sa_mask);  // one clean-up at a time
    sigaction(signal, &action, nullptr);
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The mode (and group, where allowed) of the file replaced.
void takeModeOf(int fd, const std::string& model) {
    struct stat old {};
    if (model.empty() || stat(model.c_str(), &old) != 0) {
        fchmod(fd, newFileMode());
        return;
    }
    if (old.st_gid != getegid() && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // not a member of the group: the file keeps ours
    }
    // Never set-user-ID or set-group-ID: the owner may not be the old one.
    fchmod(fd, old.st_mode & 0777);
}

}  // namespace

void removeTemporaryOnInterruption() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : CLEANUP_SIGNALS) catchForCleanup(signal);
#ifdef SIGRTMIN
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) catchForCleanup(signal);
#endif
    // A file-size limit is a write error to report, not a reason to die
    // with a half-written file.
    std::signal(SIGXFSZ, SIG_IGN);
}

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void removePendingTemporary() {
    if (pending) unlink(pendingPath);
}

void forgetTemporary() { pending = 0; }

// A clean-up that found the file before the lock may have removed it: it
// is kept only if still linked under its name once locked, and from then
// on no clean-up touches it.
Temporary createTemporary(const std::string& prefix, const std::string& model) {
    Temporary made;
    const std::string pattern = prefix + "XXXXXX";
    if (pattern.size() >= sizeof pendingPath) {
        made.error = ENAMETOOLONG;
        return made;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Pending before it exists: a signal right after mkstemp must find it.
        std::strcpy(pendingPath, pattern.c_str());
        pending = 1;
        const int fd = mkstemp(pendingPath);
        if (fd < 0) {
            pending = 0;
            made.error = errno;
            return made;
        }
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        struct stat opened {};
        struct stat named {};
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &opened) == 0 && opened.st_nlink == 1 &&
            lstat(pendingPath, &named) == 0 && named.st_ino == opened.st_ino &&
            named.st_dev == opened.st_dev) {
            made.fd = fd;
            made.path = pendingPath;
            takeModeOf(fd, model);
            return made;
        }
        close(fd);
        pending = 0;
    }
    made.error = EEXIST;
    return made;
}

// Data on the disk itself: on macOS fsync stops at the drive's cache, and
// F_FULLFSYNC goes through it.
int durable(int fd) {
#ifdef FOTOLUME_HAVE_FULLFSYNC
    if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
#endif
    return fsync(fd) == 0 ? 0 : errno;
}

int replaceWith(const std::string& temporary, const std::string& target) {
    return rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
}

void discardTemporary(Temporary& temporary) {
    if (temporary.fd >= 0) close(temporary.fd);
    temporary.fd = -1;
    if (!temporary.path.empty()) unlink(temporary.path.c_str());
    temporary.path.clear();
    pending = 0;
}

}  // namespace fotolume::os
