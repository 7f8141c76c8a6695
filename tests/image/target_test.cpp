// Where an image name leads: descriptors, links, folders and files that
// cannot be replaced, and the temporary files killed runs left. Runs the
// built binary.
#include "image/target.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

const std::string kOld = "P6\n1 1\n255\nold";

std::string example() { return test::sourcePath("scenes/example.txt"); }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Names that lead somewhere other than a plain file: descriptors by path
// are written in place whatever they are open on; link loops and chains the
// kernel will not follow are refused before rendering, and no link is
// replaced; an empty name is refused at once.
TEST(ReplaceImage, NamesThatLeadElsewhere) {
    test::TempDir dir;
    const std::string bin = quoted(FOTOLUME_BINARY) + " -q " + quoted(example());
    ASSERT_EQ(test::runFotolume({example(), dir.path("good.ppm"), "8", "6"}).status, EXIT_OK);
    const std::string good = test::readFile(dir.path("good.ppm"));
    const std::string got = quoted(dir.path("got.ppm"));
    const std::string piped[] = {
        bin + " /dev/fd/3 8 6 3>&1 >/dev/null | cat > " + got,
        bin + " /dev/stderr 8 6 2>&1 >/dev/null | cat > " + got,
        bin + " /proc/self/fd/4 8 6 4>&1 >/dev/null | cat > " + got,
        "bash -c '" + bin + " >(cat > " + got + ") 8 6; wait'",
    };
    for (const std::string& command : piped) {
        std::remove(dir.path("got.ppm").c_str());
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        for (int i = 0; i < 200 && test::readFile(dir.path("got.ppm")) != good; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // >(...) ends late
        EXPECT_EQ(test::readFile(dir.path("got.ppm")), good) << command;
    }
    std::remove(dir.path("got.ppm").c_str());

    ASSERT_EQ(symlink("b2", dir.path("a2").c_str()), 0);
    ASSERT_EQ(symlink("a2", dir.path("b2").c_str()), 0);
    dir.write("end.ppm", kOld);
    ASSERT_EQ(symlink("end.ppm", dir.path("chain0").c_str()), 0);
    for (int i = 1; i <= 45; ++i)
        ASSERT_EQ(symlink(("chain" + std::to_string(i - 1)).c_str(),
                          dir.path("chain" + std::to_string(i)).c_str()),
                  0);
    const std::string before = test::listing(dir);
    for (const std::string name : {"a2", "b2", "chain45"}) {
        const test::RunResult run = test::runFotolume({example(), dir.path(name), "8", "6"});
        EXPECT_EQ(run.status, EXIT_FAILURE_INPUT) << name;
        EXPECT_EQ(run.out, "Can't open file " + dir.path(name) + " \n");
        EXPECT_EQ(run.err,
                  "Can't write file " + dir.path(name) + ": Too many levels of symbolic links\n");
    }
    for (const std::string name : {"a2", "b2", "chain1", "chain20", "chain45"}) {
        struct stat info {};
        ASSERT_EQ(lstat(dir.path(name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << name;
    }
    EXPECT_EQ(test::readFile(dir.path("end.ppm")), kOld);
    EXPECT_EQ(test::listing(dir), before);

    const test::RunResult empty = test::runFotolume({example(), "", "8", "6"});
    EXPECT_EQ(empty.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(empty.out, "Can't open file  \n");
    EXPECT_EQ(empty.err, "Can't write file : No such file or directory\n");
}

// Images whose replacement is impossible are found before rendering: one
// the user may write is written in place with a warning; what cannot be
// written at all is refused, naming the folder when it is the cause. Runs
// as the unprivileged user 'nobody' (so only where the tests run as root).
TEST(ReplaceImage, ImagesThatCannotBeReplacedAreWrittenInPlace) {
    if (geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root, to run as another user";
    test::TempDir dir;
    const std::string folder = dir.path("shut"), sticky = dir.path("sticky");
    ASSERT_EQ(chmod(dir.path("").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(sticky.c_str(), 01777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string scene = dir.write("scene.txt", test::readFile(example()));
    ASSERT_EQ(chmod(scene.c_str(), 0644), 0);
    // A copy of the program that 'nobody' may run wherever the build lives.
    const std::string program = dir.path("fotolume");
    ASSERT_EQ(std::system(("cp " + quoted(FOTOLUME_BINARY) + " " + quoted(program)).c_str()), 0);
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    const auto asNobody = [&](const std::string& image) {
        const std::string out = dir.path("out.txt"), err = dir.path("err.txt");
        const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                    quoted(program) + " " + quoted(scene) + " " + quoted(image) +
                                    " 8 6 >" + quoted(out) + " 2>" + quoted(err);
        const int raw = std::system(command.c_str());
        test::RunResult run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = test::readFile(out);
        run.err = test::readFile(err);
        return run;
    };
    const struct {
        std::string image;
        int status;
        std::string err;
    } rows[] = {
        {folder + "/open.ppm", EXIT_OK,
         "fotolume: warning: " + folder +
             "/open.ppm cannot be replaced safely (Permission "
             "denied: the folder " +
             folder +
             " may not be written), so it is written in place: a "
             "failure could leave it incomplete\n"},
        {sticky + "/theirs.ppm", EXIT_OK,
         "fotolume: warning: " + sticky +
             "/theirs.ppm cannot be replaced safely (in the sticky "
             "folder " +
             sticky +
             " only its owner may replace it), so it is written in place: a "
             "failure could leave it incomplete\n"},
        {folder + "/new.ppm", EXIT_FAILURE_INPUT,
         "Can't write file " + folder + "/new.ppm: Permission denied: the folder " + folder +
             " may not be written\n"},
        {folder + "/closed.ppm", EXIT_FAILURE_INPUT,
         "Can't write file " + folder +
             "/closed.ppm: Permission denied; the existing file was "
             "left unchanged\n"},
    };
    for (const char* name : {"/open.ppm", "/closed.ppm"}) {
        dir.write(std::string("shut") + name, kOld);
        ASSERT_EQ(chmod((folder + name).c_str(), name[1] == 'o' ? 0666 : 0644), 0);
    }
    dir.write("sticky/theirs.ppm", kOld);
    ASSERT_EQ(chmod((sticky + "/theirs.ppm").c_str(), 0666), 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.image);
        const test::RunResult run = asNobody(row.image);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.err, row.err);
        if (row.status == EXIT_OK) {
            EXPECT_EQ(test::readFile(row.image).size(), 11u + 8 * 6 * 3);
        }
    }
    EXPECT_EQ(test::readFile(folder + "/closed.ppm"), kOld);
    EXPECT_FALSE(test::exists(folder + "/new.ppm"));
    // Written in place with standard error closed: the warning goes nowhere,
    // certainly not into the file.
    const std::string good = test::readFile(folder + "/open.ppm");
    dir.write("shut/open.ppm", kOld);
    EXPECT_EQ(std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups " + quoted(program) +
                           " " + quoted(scene) + " " + quoted(folder + "/open.ppm") + " 8 6 2>&-")
                              .c_str()),
              0);
    EXPECT_EQ(test::readFile(folder + "/open.ppm"), good);

#ifdef FOTOLUME_PORTABLE
    return;  // no table of mounts: the rename's own failure, tested elsewhere
#endif
    // A file mounted on another: renaming over it is impossible (EBUSY).
    const std::string mounted = dir.write("mounted.ppm", kOld);
    const std::string volume = dir.write("volume.ppm", kOld);
    const std::string inside = "unshare -m sh -c 'mount --bind " + quoted(volume) + " " +
                               quoted(mounted) + " && exec \"$0\" \"$@\"' ";
    if (std::system(("unshare -m true 2>/dev/null")) != 0) return;
    const test::RunResult run = test::runFotolume({scene, mounted, "8", "6"}, inside);
    EXPECT_EQ(run.status, EXIT_OK) << run.err;
    EXPECT_EQ(run.err, "fotolume: warning: " + mounted +
                           " cannot be replaced safely (a file is "
                           "mounted on it), so it is written in place: a failure could leave it "
                           "incomplete\n");
    EXPECT_EQ(test::readFile(volume).size(), 11u + 8 * 6 * 3);
}

// A temporary file left by a killed run (SIGKILL, a power cut), even a
// moment ago, is removed by the next run into the same image, with a line
// saying so; everything else beside it stays: a live run's locked file, a
// user's files of every shape, and anything not plainly our own leftover.
// On a network file system nothing is removed, and a line says so.
TEST(ReplaceImage, OnlyStaleTemporaryFilesOfOurOwnAreRemoved) {
    struct Row {
        const char* name;
        const char* content;
        bool removed;
    };
    const std::string png = "\x89PNG\r\n";
    const Row rows[] = {
        {".out.ppm.fotolume-AbC123", "P6\n8 6\n255\nhalf an image", true},
        {".out.ppm.fotolume-zz0000", "", true},  // killed before it wrote a byte
        {".out.ppm.fotolume-Png001", png.c_str(), true},
        {".out.ppm.fotolume-LiVe99", "P6\n8 6\n", false},  // locked below: a live run's
        {".out.ppm.fotolume-Text01", "my notes", false},
        {".out.ppm.fotolume-Ab_123", "", false},      // not a character mkstemp makes
        {".out.ppm.fotolume-Ab1234x", "", false},     // seven characters
        {".out.ppm.fotolume-Link01", "P6\n", false},  // linked again below
        {".out.ppm.fotolume-Scn001", "", false},      // the scene this run reads
        {".out.ppm.AbC123", "P6\n", false},           // rsync's shape, the old one
        {".out.ppm.backup", "P6\n", false},
        {".out.ppm.sha256", "", false},
        {".out.ppm.v1.bak", "P6\n", false},
        {".other.ppm.fotolume-XyZ789", "P6\n", false},  // another image's
    };
    test::TempDir dir;
    dir.write("out.ppm", kOld);
    std::string expected;
    for (const Row& row : rows) {
        dir.write(row.name, row.content);
        if (row.removed)
            expected += "fotolume: removed " + dir.path(row.name) +
                        ", an incomplete image left by a run that was killed\n";
    }
    dir.write(".out.ppm.fotolume-Scn001", test::readFile(example()));
    ASSERT_EQ(link(dir.path(".out.ppm.fotolume-Link01").c_str(), dir.path("linked").c_str()), 0);
    ASSERT_EQ(symlink("out.ppm", dir.path(".out.ppm.fotolume-Sym001").c_str()), 0);
    ASSERT_EQ(mkdir(dir.path(".out.ppm.fotolume-Dir001").c_str(), 0700), 0);
    const int held = open(dir.path(".out.ppm.fotolume-LiVe99").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    if (geteuid() == 0) {  // another user's leftover is not ours to remove
        dir.write(".out.ppm.fotolume-Nobody", "P6\n");
        ASSERT_EQ(chown(dir.path(".out.ppm.fotolume-Nobody").c_str(), 65534, 65534), 0);
    }

    // Files of another user are never ours to remove, whoever runs the
    // test: seen as someone else, every leftover here stays, unsaid.
    const std::string before = test::listing(dir);
    testing::internal::CaptureStderr();
    removeStaleTemporaries(dir.path("out.ppm"), false, static_cast<long long>(geteuid()) + 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(test::listing(dir), before);

    // Where locks may be local to each machine: nothing goes.
    testing::internal::CaptureStderr();
    removeStaleTemporaries(dir.path("out.ppm"), true);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(test::listing(dir), before);
    EXPECT_NE(told.find("left " + dir.path(".out.ppm.fotolume-AbC123") + ", which may be"),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("remove it by hand"), std::string::npos) << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 3) << told;

    const test::RunResult run =
        test::runFotolume({dir.path(".out.ppm.fotolume-Scn001"), dir.path("out.ppm"), "8", "6"});
    close(held);
    EXPECT_EQ(run.status, EXIT_OK);
#ifdef FOTOLUME_PORTABLE
    // Where the kind of file system cannot be told, nothing is removed.
    EXPECT_EQ(run.err, told);
    EXPECT_EQ(test::listing(dir), before);
    return;
#endif
    // One line a removed file, in the folder's order.
    std::string lines = run.err;
    for (const Row& row : rows) {
        const std::string line = "fotolume: removed " + dir.path(row.name) +
                                 ", an incomplete image left by a run that was killed\n";
        const std::size_t at = lines.find(line);
        EXPECT_EQ(at != std::string::npos, row.removed) << row.name;
        if (at != std::string::npos) lines.erase(at, line.size());
    }
    EXPECT_EQ(lines, "");
    for (const Row& row : rows) {
        EXPECT_EQ(test::exists(dir.path(row.name)), !row.removed) << row.name;
    }
    for (const char* kept : {".out.ppm.fotolume-Sym001", ".out.ppm.fotolume-Dir001", "linked"}) {
        EXPECT_TRUE(test::exists(dir.path(kept))) << kept;
    }
    if (geteuid() == 0) {
        EXPECT_TRUE(test::exists(dir.path(".out.ppm.fotolume-Nobody")));
    }
    EXPECT_NE(test::readFile(dir.path("out.ppm")), kOld);
}

}  // namespace
}  // namespace fotolume
