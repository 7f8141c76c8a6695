#include "image/target.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>

#include "scene/scene.hpp"

namespace fotolume {

int namedDescriptor(const std::string& name) {
    if (name == "-" || name == "/dev/stdout") return STDOUT_FILENO;
    if (name == "/dev/stderr") return STDERR_FILENO;
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

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string followLinks(std::string path) {
    for (int hops = 0; hops <= 40; ++hops) {  // the kernel's own limit
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t size = readlink(path.c_str(), target.data(), target.size() - 1);
        if (size < 0) return path;
        target.resize(static_cast<std::size_t>(size));
        path = target[0] == '/' ? target : directoryOf(path) + "/" + target;
    }
    errno = ELOOP;
    return "";
}

namespace {

// A mount point's path as /proc/self/mountinfo writes it: blanks, tabs,
// line ends and backslashes as three octal digits.
std::string unescapeMountPath(const std::string& text) {
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            path += static_cast<char>(std::strtol(text.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            path += text[i];
        }
    }
    return path;
}

// Whether something is mounted on the file (a bind-mounted file, as a
// container's one-file volume is): renaming over it fails with EBUSY.
bool isMountPoint(const std::string& file) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(file.c_str(), nullptr), &std::free);
    if (!real) return false;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // id parent major:minor root MOUNT-POINT options ...
        std::size_t at = 0;
        for (int field = 0; field < 4 && at != std::string::npos; ++field)
            at = line.find(' ', at + 1);
        if (at == std::string::npos) continue;
        const std::size_t end = line.find(' ', at + 1);
        if (unescapeMountPath(line.substr(at + 1, end - at - 1)) == real.get()) return true;
    }
    return false;
}

}  // namespace

std::string whyNotReplaceable(const std::string& target, bool exists) {
    const std::string folder = directoryOf(target);
    // A missing folder is left to the file's creation to report.
    if (access(folder.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS))
        return std::string(std::strerror(errno)) + ": the folder " + printable(folder) +
               " may not be written";
    struct stat dir {};
    struct stat file {};
    if (exists && stat(folder.c_str(), &dir) == 0 && stat(target.c_str(), &file) == 0 &&
        (dir.st_mode & S_ISVTX) && geteuid() != 0 && file.st_uid != geteuid() &&
        dir.st_uid != geteuid())
        return "in the sticky folder " + printable(folder) + " only its owner may replace it";
    if (exists && isMountPoint(target)) return "a file is mounted on it";
    return "";
}

std::string temporaryPrefix(const std::string& target) {
    std::string base = target.substr(target.rfind('/') + 1);
    if (base.size() > 200) base.resize(200);
    return directoryOf(target) + "/." + base + ".";
}

void removeStaleTemporaries(const std::string& target) {
    const std::string prefix = temporaryPrefix(target);
    const std::string folder = directoryOf(target);
    const std::string start = prefix.substr(folder.size() + 1);  // ".NAME."
    struct Closer {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, Closer> dir(opendir(folder.c_str()));
    if (!dir) return;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != start.size() + 6 || name.compare(0, start.size(), start) != 0) continue;
        const std::string path = folder + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        // A live run holds its file locked; a file just made may not be
        // locked yet, so one changed in the last few seconds is left alone.
        const bool stale = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           info.st_uid == geteuid() && std::time(nullptr) - info.st_mtime > 5 &&
                           flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && unlink(path.c_str()) == 0)
            std::fprintf(stderr,
                         "fotolume: removed %s, an incomplete image left by a run that was "
                         "killed\n",
                         printable(path).c_str());
        close(fd);
    }
}

}  // namespace fotolume
