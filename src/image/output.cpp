#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/image.hpp"

namespace fotolume {

namespace {

constexpr std::size_t BUFFER_SIZE = 1 << 16;

// The temporary file that a signal must not leave behind. Set while one
// exists; read by the handler, which may run on any thread.
char pendingPath[4096];
volatile std::sig_atomic_t pending = 0;
const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removePendingAndDie(int signal) {
    discardPendingImage();
    // Die of the same signal, so the caller sees how the run ended.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : CLEANUP_SIGNALS) {
        struct sigaction old {};
        sigaction(signal, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;  // nohup or a background job: keep ignoring it
        struct sigaction action {};
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
    // A file-size limit is a write error to report, not a reason to die
    // with a half-written file.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool isStandardOutput(const std::string& name) {
    return name == "-" || name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1";
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The path a chain of symbolic links ends at (the path itself when it is
// no link); the last link's target need not exist.
std::string followLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        char target[4096];
        const ssize_t size = readlink(path.c_str(), target, sizeof target - 1);
        if (size < 0) return path;
        target[size] = '\0';
        path = target[0] == '/' ? std::string(target) : directoryOf(path) + "/" + target;
    }
    return path;  // a loop: creating the file beside it will report it
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
    if (isStandardOutput(name_)) {
        fd_ = STDOUT_FILENO;
        return true;
    }
    target_ = followLinks(name_);
    struct stat info {};
    hadTarget_ = stat(target_.c_str(), &info) == 0;
    int error = 0;
    if (hadTarget_ && S_ISDIR(info.st_mode)) {
        error = EISDIR;
    } else if (hadTarget_ && !S_ISREG(info.st_mode)) {
        // A pipe, FIFO or device: written in place, never removed.
        fd_ = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ownsFd_ = fd_ >= 0;
        if (fd_ < 0) error = errno;
    } else if (hadTarget_ && access(target_.c_str(), W_OK) != 0) {
        error = errno;  // a read-only image stays as it is
    } else {
        std::string base = target_.substr(target_.rfind('/') + 1);
        if (base.size() > 200) base.resize(200);
        temporary_ = directoryOf(target_) + "/." + base + ".XXXXXX";
        if (temporary_.size() >= sizeof pendingPath) {
            error = ENAMETOOLONG;
        } else {
            // Marked pending before it exists: a signal right after mkstemp
            // creates it must still find it.
            std::strcpy(pendingPath, temporary_.c_str());
            pending = 1;
            fd_ = mkstemp(pendingPath);
            if (fd_ >= 0) {
                temporary_ = pendingPath;
                ownsFd_ = true;
                fchmod(fd_, newFileMode());
            } else {
                error = errno;
                pending = 0;
            }
        }
        if (fd_ < 0) temporary_.clear();
    }
    if (fd_ >= 0) return true;
    std::printf("Can't open file %s \n", name);
    std::fflush(stdout);
    std::fprintf(
        stderr, "Can't write file %s: %s%s\n", name, std::strerror(error),
        hadTarget_ && !S_ISDIR(info.st_mode) ? "; the existing file was left unchanged" : "");
    return false;
}

bool ImageFile::write(const void* data, std::size_t size) {
    if (error_ != 0) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return buffer_.size() < BUFFER_SIZE || flush();
}

bool ImageFile::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t wrote = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error_ = wrote < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    buffer_.clear();
    return true;
}

bool ImageFile::commit() {
    if (error_ == 0) flush();
    // The data must be on the disk before the name points at it, or a crash
    // right after could leave an empty image in place of the old one.
    if (error_ == 0 && !temporary_.empty() && fsync(fd_) != 0) error_ = errno;
    if (ownsFd_) {
        if (close(fd_) != 0 && error_ == 0) error_ = errno;
        ownsFd_ = false;
    }
    fd_ = -1;
    if (error_ == 0 && !temporary_.empty() && rename(temporary_.c_str(), target_.c_str()) != 0)
        error_ = errno;
    if (error_ != 0) {
        reportWriteError();
        discard();
        return false;
    }
    temporary_.clear();
    pending = 0;
    return true;
}

void ImageFile::reportWriteError() const {
    const char* outcome = temporary_.empty() ? ""
                          : hadTarget_       ? "; the existing file was left unchanged"
                                             : "; the incomplete image was removed";
    std::fprintf(stderr, "Can't write file %s: %s%s\n", name_.c_str(), std::strerror(error_),
                 outcome);
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
