// Files on a POSIX system: describing, opening, reading and writing them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/os.hpp"

namespace fotolume::os {

ClosedAtStart guardStandardDescriptors() {
    bool closed[3] = {false, false, false};
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed[fd] = true;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
        if (opened != fd) _exit(1);  // nothing safe to write to
    }
    return ClosedAtStart{closed[0], closed[1], closed[2]};
}

namespace {

FileInfo infoOf(const struct stat& about) {
    FileInfo info;
    info.kind = S_ISREG(about.st_mode) ? Kind::Regular : S_ISDIR(about.st_mode) ? Kind::Folder
                                                                                : Kind::Other;
    info.size = static_cast<long long>(about.st_size);
    info.device = static_cast<unsigned long long>(about.st_dev);
    info.inode = static_cast<unsigned long long>(about.st_ino);
    info.modified = static_cast<long long>(about.st_mtime) * 1000000000LL;
#if defined(FOTOLUME_HAVE_ST_MTIM)
    info.modified += about.st_mtim.tv_nsec;
#elif defined(FOTOLUME_HAVE_ST_MTIMESPEC)
    info.modified += about.st_mtimespec.tv_nsec;
#else
    info.onlySeconds = true;
#endif
    return info;
}

}  // namespace

FileInfo describe(const std::string& path) {
    struct stat about {};
    if (stat(path.c_str(), &about) != 0) {
        FileInfo missing;
        missing.error = errno;
        return missing;
    }
    return infoOf(about);
}

FileInfo describeOpen(int fd) {
    struct stat about {};
    if (fstat(fd, &about) != 0) {
        FileInfo missing;
        missing.error = errno;
        return missing;
    }
    return infoOf(about);
}

std::string errorText(int error) { return std::strerror(error); }

int openForReading(const std::string& path, int& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::FILE* streamOf(int fd, const char* mode) {
    std::FILE* stream = fdopen(fd, mode);
    if (stream == nullptr) close(fd);
    return stream;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

int duplicate(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

int descriptorOf(std::FILE* stream) { return fileno(stream); }

void closeFile(int fd) { close(fd); }

int closeChecked(int fd) { return close(fd) == 0 ? 0 : errno; }

long long readAt(int fd, void* into, std::size_t size, long long offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, static_cast<char*>(into) + got, size - got,
                                static_cast<off_t>(offset + static_cast<long long>(got)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return got > 0 ? static_cast<long long>(got) : -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

long long readSome(int fd, void* into, std::size_t size) {
    for (;;) {
        const ssize_t n = read(fd, into, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

int writeAll(int fd, const void* bytes, std::size_t size) {
    const char* from = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = write(fd, from + done, size - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return wrote < 0 ? errno : EIO;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

bool isWritable(const std::string& path) { return access(path.c_str(), W_OK) == 0; }

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }

int namedDescriptor(const std::string& name) {
    if (name == "-" || name == "/dev/stdout") return STANDARD_OUTPUT;
    if (name == "/dev/stderr") return STANDARD_ERROR;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string start = prefix;
        if (name.compare(0, start.size(), start) != 0 || name.size() == start.size() ||
            name.size() > start.size() + 9)
            continue;
        int fd = 0;
        for (std::size_t i = start.size(); i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9') return -1;
            fd = fd * 10 + (name[i] - '0');
        }
        return fd;
    }
    return -1;
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

int openForWriting(const std::string& path, bool truncate, int& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | (truncate ? O_TRUNC : 0));
    if (fd < 0) error = errno;
    return fd;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// An empty buffer is no stream for some systems' fmemopen: an empty
// temporary file reads the same.
std::FILE* readerOf(char* text, std::size_t size) {
    return size == 0 ? std::tmpfile() : fmemopen(text, size, "r");
}

MemoryStream::MemoryStream() : stream_(open_memstream(&text_, &size_)) {}

MemoryStream::~MemoryStream() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(text_);
}

std::string MemoryStream::take() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    std::string text(text_ != nullptr ? text_ : "", size_);
    std::free(text_);
    text_ = nullptr;
    size_ = 0;
    return text;
}

}  // namespace fotolume::os
