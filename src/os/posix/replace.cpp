// Replacing a file on a POSIX system: where links lead, what keeps a file
// from being replaced, and the temporaries of runs that were killed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#if defined(FOTOLUME_HAVE_STATFS_MAGIC)
#include <sys/vfs.h>
#elif !defined(FOTOLUME_PORTABLE)
#include <sys/mount.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "os/os.hpp"

namespace fotolume::os {

std::string followLinks(const std::string& start) {
    std::string path = start;
    for (int hops = 0; hops <= 40; ++hops) {  // the kernel's own limit
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t size = readlink(path.c_str(), target.data(), target.size() - 1);
        if (size < 0) return path;
        target.resize(static_cast<std::size_t>(size));
        path = target[0] == '/' ? target : folderOf(path) + "/" + target;
    }
    errno = ELOOP;
    return "";
}

namespace {

#ifdef FOTOLUME_HAVE_PROC
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
#endif

// Whether something is mounted on the file (a bind-mounted file, as a
// container's one-file volume is): renaming over it fails with EBUSY.
bool isMountPoint(const std::string& file) {
#ifndef FOTOLUME_HAVE_PROC
    // No table of mounts to read: a rename onto a mounted file fails
    // (EBUSY), is reported, and leaves the file as it was.
    (void)file;
    return false;
#else
    const std::string real = realPath(file);
    if (real.empty()) return false;
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // id parent major:minor root MOUNT-POINT options ...
        std::size_t at = 0;
        for (int field = 0; field < 4 && at != std::string::npos; ++field)
            at = line.find(' ', at + 1);
        if (at == std::string::npos) continue;
        const std::size_t end = line.find(' ', at + 1);
        if (unescapeMountPath(line.substr(at + 1, end - at - 1)) == real) return true;
    }
    return false;
#endif
}

}  // namespace

Obstacle replacementObstacle(const std::string& target, bool exists, int& error) {
    const std::string folder = folderOf(target);
    // A missing folder is left to the file's creation to report.
    if (access(folder.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS)) {
        error = errno;
        return Obstacle::Folder;
    }
    struct stat dir {};
    struct stat file {};
    if (exists && stat(folder.c_str(), &dir) == 0 && stat(target.c_str(), &file) == 0 &&
        (dir.st_mode & S_ISVTX) && geteuid() != 0 && file.st_uid != geteuid() &&
        dir.st_uid != geteuid())
        return Obstacle::StickyFolder;
    if (exists && isMountPoint(target)) return Obstacle::Mounted;
    return Obstacle::None;
}

bool onNetworkFileSystem(const std::string& folder) {
#if defined(FOTOLUME_HAVE_STATFS_MAGIC)
    struct statfs info {};
    if (statfs(folder.c_str(), &info) != 0) return true;  // unknown: assume the worst
    // NFS, SMB/CIFS (three magics), FUSE (sshfs and the like), Coda, AFS,
    // 9P, Ceph, Lustre, GFS2, OCFS2.
    for (unsigned long magic :
         {0x6969UL, 0x517BUL, 0xFF534D42UL, 0xFE534D42UL, 0x65735546UL, 0x73757245UL, 0x5346414FUL,
          0x01021997UL, 0x00C36400UL, 0x0BD00BD0UL, 0x01161970UL, 0x7461636FUL})
        if (static_cast<unsigned long>(info.f_type) == magic) return true;
    return false;
#elif defined(MNT_LOCAL) && !defined(FOTOLUME_PORTABLE)
    struct statfs info {};
    return statfs(folder.c_str(), &info) != 0 || (info.f_flags & MNT_LOCAL) == 0;
#else
    (void)folder;
    return true;  // no way to tell: never remove automatically
#endif
}

namespace {

// Exactly the six letters and digits mkstemp puts after the prefix.
bool madeByMkstemp(const std::string& name, std::size_t from) {
    if (name.size() != from + 6) return false;
    for (std::size_t i = from; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// Nothing yet, or the first bytes of an image this program writes.
bool holdsImageStart(int fd) {
    static const char ppm[] = "P6\n";
    static const char png[] = "\x89PNG\r\n\x1a\n";
    char head[8];
    const long long size = readAt(fd, head, sizeof head, 0);
    if (size < 0) return false;
    const auto startsAs = [&](const char* magic, std::size_t length) {
        return std::memcmp(head, magic, std::min<std::size_t>(size, length)) == 0;
    };
    return startsAs(ppm, 3) || startsAs(png, 8);
}

// Every sign that the file is a temporary image of this program that no
// live run holds: a regular file of ours with one link, an image's start or
// nothing, and a lock we can take (a live run locks its file before it
// keeps it, see createTemporary).
bool abandoned(int fd, const std::string& path, long long owner) {
    struct stat info {};
    struct stat named {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
           static_cast<long long>(info.st_uid) == owner && holdsImageStart(fd) &&
           flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(path.c_str(), &named) == 0 &&
           named.st_ino == info.st_ino && named.st_dev == info.st_dev;
}

}  // namespace

std::vector<std::pair<std::string, bool>> removeStaleTemporaries(const std::string& prefix,
                                                                 bool networked,
                                                                 long long owner) {
    std::vector<std::pair<std::string, bool>> found;
    if (owner < 0) owner = static_cast<long long>(geteuid());
    const std::string folder = folderOf(prefix);
    const std::string start = prefix.substr(prefix.rfind('/') + 1);  // ".NAME.fotolume-"
    struct Closer {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, Closer> dir(opendir(folder.c_str()));
    if (!dir) return found;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.compare(0, start.size(), start) != 0 || !madeByMkstemp(name, start.size()))
            continue;
        const std::string path = folder + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // Where locks may be local to each machine, another machine's live
        // run looks exactly like a killed one: it is only listed.
        if (abandoned(fd, path, owner)) {
            if (networked)
                found.emplace_back(path, false);
            else if (removeFile(path))
                found.emplace_back(path, true);
        }
        close(fd);
    }
    return found;
}

}  // namespace fotolume::os
