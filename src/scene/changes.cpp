// Noticing that a scene file changed: what tells one version of a file from
// another, and a wait until the next version appears. Used by the modes that
// render again at every save.
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

// FNV-1a of the file's first 256 KiB (0 when it cannot be read), opened
// without waiting and read only when it is a regular file: a fifo put in
// the scene's place would otherwise block the watch for ever.
unsigned long long contentPrint(const char* path) {
    int error = 0;
    const int fd = os::openForReading(path, error);
    if (fd < 0) return 0;
    unsigned long long print = 14695981039346656037ULL;
    if (os::describeOpen(fd).kind == os::Kind::Regular) {
        unsigned char block[4096];
        long long got = 0;
        for (int k = 0; k < 64 && (got = os::readSome(fd, block, sizeof block)) > 0; ++k)
            for (long long i = 0; i < got; ++i) print = (print ^ block[i]) * 1099511628211ULL;
    }
    os::closeFile(fd);
    return print;
}

}  // namespace

FileStamp stampOf(const char* path) {
    const os::FileInfo info = os::describe(path);
    FileStamp stamp;
    if (info.kind == os::Kind::Missing) return stamp;
    stamp.exists = true;
    stamp.device = info.device;
    stamp.inode = info.inode;
    stamp.size = info.size;
    stamp.modified = info.modified;
    if (info.onlySeconds) stamp.content = contentPrint(path);
    return stamp;
}

namespace {

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

// The folder is watched (so that a file renamed over the scene is seen)
// where the system can tell of changes; it is looked at again either way.
void waitForChange(const char* path, const FileStamp& seen, const std::atomic<bool>* stop) {
    os::FolderWatch folder(os::folderOf(path));
    while (stop == nullptr || !*stop) {
        const FileStamp now = stampOf(path);
        if (now.exists && !now.same(seen)) {
            pause(50);  // an editor may write it in steps
            if (stampOf(path).same(now)) break;
            continue;
        }
        folder.wait(250);
    }
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
