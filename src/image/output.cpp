#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/image.hpp"
#include "image/target.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

constexpr std::size_t BUFFER_SIZE = 1 << 16;

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
    discardPendingImage();
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

void installCleanup() {
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

// Data on the disk itself: on macOS fsync stops at the drive's cache, and
// F_FULLFSYNC goes through it.
bool durable(int fd) {
#ifdef FOTOLUME_HAVE_FULLFSYNC
    if (fcntl(fd, F_FULLFSYNC) == 0) return true;
#endif
    return fsync(fd) == 0;
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void discardPendingImage() {
    if (pending) unlink(pendingPath);
}

bool ImageFile::open(const char* name) {
    name_ = name;
    buffer_.reserve(BUFFER_SIZE);
    installCleanup();
    const int error = openTarget();
    if (fd_ >= 0) return true;
    std::printf("Can't open file %s \n", name);
    std::fflush(stdout);
    std::fprintf(stderr, "Can't write file %s: %s%s\n", printable(name_).c_str(),
                 reason_.empty() ? std::strerror(error) : reason_.c_str(),
                 hadTarget_ ? "; the existing file was left unchanged" : "");
    return false;
}

// Opens what the name leads to; returns the errno of a failure.
int ImageFile::openTarget() {
    if (name_.empty()) return ENOENT;
    const int named = namedDescriptor(name_);
    if (named >= 0) {
        if (fcntl(named, F_GETFD) == -1) return EBADF;
        fd_ = named;
        return 0;
    }
    struct stat info {};
    if (stat(name_.c_str(), &info) != 0) {
        if (errno != ENOENT) return errno;  // a link loop (ELOOP) among others
    } else if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        // A pipe, FIFO, socket or device: written in place, never removed.
        fd_ = ::open(name_.c_str(), O_WRONLY | O_CLOEXEC);
        ownsFd_ = fd_ >= 0;
        return fd_ >= 0 ? 0 : errno;
    }
    target_ = followLinks(name_);
    if (target_.empty()) return ELOOP;
    hadTarget_ = stat(target_.c_str(), &info) == 0;
    if (hadTarget_ && access(target_.c_str(), W_OK) != 0) return errno;  // read-only stays so
    const std::string why = whyNotReplaceable(target_, hadTarget_);
    if (why.empty()) return openTemporary(hadTarget_ ? &info : nullptr);
    if (!hadTarget_) {
        reason_ = why;
        return EACCES;
    }
    // Writing in place is allowed where replacing is not.
    fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) return errno;
    ownsFd_ = true;
    inPlace_ = true;
    std::fprintf(stderr,
                 "fotolume: warning: %s cannot be replaced safely (%s), so it is written in "
                 "place: a failure could leave it incomplete\n",
                 printable(name_).c_str(), why.c_str());
    return 0;
}

// A new temporary file beside the target, locked while this run lives, with
// the mode (and group, where allowed) of the file it replaces.
int ImageFile::openTemporary(const struct stat* old) {
    removeStaleTemporaries(target_, onNetworkFileSystem(directoryOf(target_)));
    temporary_ = temporaryPrefix(target_) + "XXXXXX";
    if (temporary_.size() >= sizeof pendingPath) {
        temporary_.clear();
        return ENAMETOOLONG;
    }
    const int error = createLocked();
    if (error != 0) {
        temporary_.clear();
        return error;
    }
    if (old == nullptr) {
        fchmod(fd_, newFileMode());
    } else {
        if (old->st_gid != getegid() && fchown(fd_, static_cast<uid_t>(-1), old->st_gid) != 0) {
            // not a member of the group: the file keeps ours
        }
        // Never set-user-ID or set-group-ID: the owner may not be the old one.
        fchmod(fd_, old->st_mode & 0777);
    }
    return 0;
}

// Creates the temporary file and locks it. A clean-up that found it before
// the lock may have removed it: it is kept only if still linked under its
// name once locked, and from then on no clean-up touches it.
int ImageFile::createLocked() {
    const std::string pattern = temporary_;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Pending before it exists: a signal right after mkstemp must find it.
        std::strcpy(pendingPath, pattern.c_str());
        pending = 1;
        fd_ = mkstemp(pendingPath);
        if (fd_ < 0) {
            pending = 0;
            return errno;
        }
        fcntl(fd_, F_SETFD, FD_CLOEXEC);
        struct stat opened {};
        struct stat named {};
        if (flock(fd_, LOCK_EX) == 0 && fstat(fd_, &opened) == 0 && opened.st_nlink == 1 &&
            lstat(pendingPath, &named) == 0 && named.st_ino == opened.st_ino &&
            named.st_dev == opened.st_dev) {
            temporary_ = pendingPath;
            ownsFd_ = true;
            return 0;
        }
        close(fd_);
        fd_ = -1;
        pending = 0;
    }
    return EEXIST;
}

// The buffer never grows past its first reservation: an allocation while
// writing would be one more way to run out of memory late in a render.
bool ImageFile::write(const void* data, std::size_t size) {
    if (error_ != 0) return false;
    if (buffer_.size() + size > BUFFER_SIZE && !flush()) return false;
    if (size >= BUFFER_SIZE) return writeAll(data, size);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return true;
}

bool ImageFile::flush() {
    const bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool ImageFile::writeAll(const void* data, std::size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd_, bytes + done, size - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error_ = wrote < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool ImageFile::commit() {
    if (error_ == 0) flush();
    // The data must be on the disk before the name points at it, or a crash
    // right after could leave an empty image in place of the old one.
    if (error_ == 0 && !temporary_.empty() && !durable(fd_)) error_ = errno;
    // The temporary file stays open, and so locked, until it has its final
    // name: another run must never take it for a stale one.
    const bool replacing = !temporary_.empty();
    if (error_ == 0 && replacing && rename(temporary_.c_str(), target_.c_str()) != 0)
        error_ = errno;
    if (error_ == 0 && replacing) {
        temporary_.clear();
        pending = 0;
    }
    if (ownsFd_) {
        // After the rename the data is on the disk already (fsync above).
        if (close(fd_) != 0 && error_ == 0 && !replacing) error_ = errno;
        ownsFd_ = false;
    }
    fd_ = -1;
    if (error_ != 0) {
        const char* outcome = inPlace_             ? "; the image left in place is incomplete"
                              : temporary_.empty() ? ""
                              : hadTarget_         ? "; the existing file was left unchanged"
                                                   : "; the incomplete image was removed";
        // Removed before anything is said: a broken standard error must
        // not stop the clean-up.
        discard();
        std::fprintf(stderr, "Can't write file %s: %s%s\n", printable(name_).c_str(),
                     std::strerror(error_), outcome);
        return false;
    }
    temporary_.clear();
    pending = 0;
    return true;
}

void ImageFile::discard() {
    if (ownsFd_) close(fd_);
    ownsFd_ = false;
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
    pending = 0;
}

ImageFile::~ImageFile() { discard(); }

}  // namespace fotolume
