// Noticing that a scene file changed: what tells one version of a file from
// another, and a wait until the next version appears. Used by the modes that
// render again at every save.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef FOTOLUME_HAVE_INOTIFY
#include <poll.h>
#include <sys/inotify.h>
#endif

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "scene/scene.hpp"

namespace fotolume {

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

namespace {

// FNV-1a of the file's first 256 KiB (0 when it cannot be read), opened
// without waiting and read only when it is a regular file: a fifo put in
// the scene's place would otherwise block the watch for ever.
[[maybe_unused]] unsigned long long contentPrint(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat about {};
    unsigned long long print = 14695981039346656037ULL;
    if (fstat(fd, &about) == 0 && S_ISREG(about.st_mode)) {
        unsigned char block[4096];
        ssize_t got = 0;
        for (int k = 0; k < 64 && (got = read(fd, block, sizeof block)) > 0; ++k)
            for (ssize_t i = 0; i < got; ++i) print = (print ^ block[i]) * 1099511628211ULL;
    }
    close(fd);
    return print;
}

}  // namespace

FileStamp stampOf(const char* path) {
    struct stat info {};
    FileStamp stamp;
    if (stat(path, &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = static_cast<unsigned long long>(info.st_dev);
    stamp.inode = static_cast<unsigned long long>(info.st_ino);
    stamp.size = static_cast<long long>(info.st_size);
    stamp.modified = static_cast<long long>(info.st_mtime) * 1000000000LL;
#if defined(FOTOLUME_HAVE_ST_MTIM)
    stamp.modified += info.st_mtim.tv_nsec;
#elif defined(FOTOLUME_HAVE_ST_MTIMESPEC)
    stamp.modified += info.st_mtimespec.tv_nsec;
#else
    stamp.content = contentPrint(path);
#endif
    return stamp;
}

namespace {

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

// inotify on the folder where the system has it (so a file renamed over the
// scene is seen), looking again every tenth of a second otherwise.
void waitForChange(const char* path, const FileStamp& seen, const std::atomic<bool>* stop) {
#ifdef FOTOLUME_HAVE_INOTIFY
    const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (events >= 0)
        inotify_add_watch(
            events, directoryOf(path).c_str(),
            IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB);
#endif
    while (stop == nullptr || !*stop) {
        const FileStamp now = stampOf(path);
        if (now.exists && !now.same(seen)) {
            pause(50);  // an editor may write it in steps
            if (stampOf(path).same(now)) break;
            continue;
        }
#ifdef FOTOLUME_HAVE_INOTIFY
        if (events >= 0) {
            pollfd wait{events, POLLIN, 0};
            if (poll(&wait, 1, 250) > 0) {
                char drained[4096];
                while (read(events, drained, sizeof drained) > 0) {
                }
            }
            continue;
        }
#endif
        pause(100);
    }
#ifdef FOTOLUME_HAVE_INOTIFY
    if (events >= 0) close(events);
#endif
}

ChangeWatcher::ChangeWatcher(const char* path, const FileStamp& before,
                             std::atomic<bool>& changed) {
    try {
        thread_ = std::thread([this, path, before, &changed] {
            while (!done_.load()) {
                if (!stampOf(path).same(before)) {
                    changed = true;
                    return;
                }
                pause(50);
            }
        });
    } catch (const std::system_error&) {
    }
}

ChangeWatcher::~ChangeWatcher() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
}

}  // namespace fotolume
