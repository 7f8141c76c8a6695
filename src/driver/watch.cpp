// --watch: the render, then a wait for the scene file to change, and the
// render again. A change during a render abandons it and starts over; a
// refused scene leaves the last good image as it was.
#include "driver/watch.hpp"

#include <sys/stat.h>
#include <unistd.h>
#ifdef FOTOLUME_HAVE_INOTIFY
#include <poll.h>
#include <sys/inotify.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "image/target.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

// What tells one version of the scene file from another: which file the
// name leads to, its size and its modification time; nothing when missing.
struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0;  // nanoseconds where the system keeps them

    bool same(const Stamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified == other.modified;
    }
};

Stamp stampOf(const char* path) {
    struct stat info {};
    Stamp stamp;
    if (stat(path, &info) != 0) return stamp;
    stamp.exists = true;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.modified = static_cast<long long>(info.st_mtime) * 1000000000LL;
#ifdef FOTOLUME_HAVE_INOTIFY
    stamp.modified += info.st_mtim.tv_nsec;
#endif
    return stamp;
}

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Until the scene exists and differs from `seen`, and has stayed so for a
// moment (an editor may write it in steps). Woken by inotify where the
// system has it (the folder is watched, so a file renamed over the scene is
// seen), by looking again every tenth of a second otherwise.
void waitForChange(const char* scene, const Stamp& seen) {
#ifdef FOTOLUME_HAVE_INOTIFY
    const int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (events >= 0)
        inotify_add_watch(
            events, directoryOf(scene).c_str(),
            IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB);
#endif
    for (;;) {
        const Stamp now = stampOf(scene);
        if (now.exists && !now.same(seen)) {
            pause(50);
            if (stampOf(scene).same(now)) break;
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

// One render, abandoned when the scene changes meanwhile.
int renderWatched(const CommandLine& line, const Stamp& before, int& warnings) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    const char* scene = line.operands[0];
    std::thread watcher;
    try {
        watcher = std::thread([&] {
            while (!done.load()) {
                if (!stampOf(scene).same(before)) {
                    cancel = true;
                    return;
                }
                pause(50);
            }
        });
    } catch (const std::system_error&) {
        // no thread: this render cannot be abandoned, the next one follows it
    }
    const int status = renderOnce(line, RenderWatch{&cancel, &warnings});
    done = true;
    if (watcher.joinable()) watcher.join();
    return status;
}

}  // namespace

int watchCommand(const CommandLine& line) {
    const char* scene = line.operands[0];
    const std::string image = printable(line.operands[1]);
    for (;;) {
        const Stamp before = stampOf(scene);
        const auto start = std::chrono::steady_clock::now();
        int warnings = 0;
        const int status = renderWatched(line, before, warnings);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status == EXIT_USAGE) return status;
        if (status == EXIT_CANCELLED) {
            std::fprintf(stderr, "fotolume: %s changed during the render: starting again\n",
                         printable(scene).c_str());
            continue;
        }
        if (status == EXIT_OK)
            std::fprintf(stderr, "fotolume: rendered %s in %.2f s, %d warning%s; watching %s\n",
                         image.c_str(), seconds, warnings, warnings == 1 ? "" : "s",
                         printable(scene).c_str());
        else
            std::fprintf(stderr,
                         "fotolume: nothing rendered; %s keeps its last image; watching %s\n",
                         image.c_str(), printable(scene).c_str());
        std::fflush(stderr);
        std::fflush(stdout);
        waitForChange(scene, before);
    }
}

}  // namespace fotolume
