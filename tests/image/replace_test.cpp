// Replacing an image: a previous file at the target survives every failure
// byte for byte, no temporary file is left in the directory, and special
// targets are written in place. Runs the built binary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
std::string slowScene() { return test::sourcePath("bench/scenes/recursion.txt"); }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Every way a run can fail, against a good previous image.
TEST(ReplaceImage, FailuresLeaveThePreviousImageAndNoTemporaryFile) {
    const bool root = geteuid() == 0;
    const struct {
        const char* name;
        std::string scene;   // empty: the example
        const char* prefix;  // shell commands before the run
        const char* target;  // relative to the directory
        int status;
        std::string out;  // expected standard output ("*": anything)
        std::string err;  // expected start of standard error
    } rows[] = {
        {"refused scene", "0 0 5 0 0 0 0 1 0 60 11", "", "out.ppm", EXIT_FAILURE_INPUT, "",
         "DIR/scene.txt:1:22: error: 11 lights"},
        {"file size limit", "", "ulimit -f 8;", "out.ppm", EXIT_FAILURE_INPUT, "",
         "Can't write file DIR/out.ppm: File too large; the existing file was left unchanged\n"},
        {"PNG, file size limit", "", "ulimit -f 1;", "out.png", EXIT_FAILURE_INPUT, "",
         "Can't write file DIR/out.png: File too large; the existing file was left unchanged\n"},
        {"through a link, file size limit", "", "ulimit -f 8;", "link.ppm", EXIT_FAILURE_INPUT, "",
         "Can't write file DIR/link.ppm: File too large; the existing file was left unchanged"},
        {"missing directory", "", "", "missing/out.ppm", EXIT_FAILURE_INPUT,
         "Can't open file DIR/missing/out.ppm \n",
         "Can't write file DIR/missing/out.ppm: No such file or directory\n"},
        {"read-only directory", "", "chmod 555 DIR;", "out.ppm", EXIT_FAILURE_INPUT,
         "Can't open file DIR/out.ppm \n",
         "Can't write file DIR/out.ppm: Permission denied; the existing file was left unchanged"},
        {"the scene itself", "", "", "scene.txt", EXIT_FAILURE_INPUT, "",
         "fotolume: the image DIR/scene.txt is the scene file DIR/scene.txt itself"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (root && std::string(row.prefix).find("chmod") != std::string::npos) continue;
        test::TempDir dir;
        const std::string base = dir.path("");
        const std::string folder = base.substr(0, base.size() - 1);
        const std::string scene =
            dir.write("scene.txt", row.scene.empty() ? test::readFile(example()) : row.scene);
        const std::string sceneBefore = test::readFile(scene);
        dir.write("out.ppm", kOld);
        dir.write("out.png", kOld);
        ASSERT_EQ(symlink("out.ppm", dir.path("link.ppm").c_str()), 0);
        const std::string before = test::listing(dir);

        std::string prefix = row.prefix;
        for (std::size_t at; (at = prefix.find("DIR")) != std::string::npos;)
            prefix.replace(at, 3, quoted(folder));
        const test::RunResult run =
            test::runFotolume({scene, dir.path(row.target), "400", "300"}, prefix);
        chmod(folder.c_str(), 0755);

        auto expand = [&](std::string text) {
            for (std::size_t at; (at = text.find("DIR")) != std::string::npos;)
                text.replace(at, 3, folder);
            return text;
        };
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, expand(row.out));
        EXPECT_EQ(run.err.rfind(expand(row.err), 0), 0u) << run.err;
        EXPECT_EQ(test::readFile(dir.path("out.ppm")), kOld);
        EXPECT_EQ(test::readFile(dir.path("out.png")), kOld);
        EXPECT_EQ(test::readFile(scene), sceneBefore);
        EXPECT_EQ(test::listing(dir), before);
    }
}

pid_t start(const std::vector<std::string>& args) { return test::startFotolume(args); }

// A signal at start-up or while the image is being written: the run dies of
// that signal, the temporary file goes with it, and the old image stays.
// Every signal that can be caught and whose default ends the process, the
// faults too (sent here; a real fault takes the same handler), and a sample
// of the real-time ones.
TEST(ReplaceImage, SignalsLeaveThePreviousImage) {
    std::vector<int> signals = {SIGINT,  SIGTERM,   SIGHUP,    SIGQUIT,  SIGPIPE,      SIGUSR1,
                                SIGUSR2, SIGALRM,   SIGVTALRM, SIGPROF,  SIGXCPU,      SIGPWR,
                                SIGIO,   SIGSTKFLT, SIGSYS,    SIGRTMIN, SIGRTMIN + 5, SIGRTMAX};
#ifndef FOTOLUME_SANITIZED
    // The sanitizers report these faults themselves, and end the run their way.
    signals.insert(signals.end(), {SIGABRT, SIGBUS, SIGTRAP, SIGSEGV, SIGFPE, SIGILL});
#endif
    const struct rlimit noCore = {0, 0};  // the faults' default dumps core
    setrlimit(RLIMIT_CORE, &noCore);
    for (int signal : signals) {
        for (bool midWrite : {false, true}) {
            for (const std::string name : {"out.ppm", "out.png"}) {
                SCOPED_TRACE(std::string(strsignal(signal)) +
                             (midWrite ? ", mid-write " : ", at once ") + name);
                test::TempDir dir;
                const std::string out = dir.write(name, kOld);
                const pid_t pid = start({slowScene(), out, "3000", "3000"});
                ASSERT_GT(pid, 0);
                if (midWrite) {  // wait until the temporary file exists and holds data
                    for (int i = 0; i < 2000 && test::listing(dir) == name; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    ASSERT_NE(test::listing(dir), name);
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                kill(pid, signal);
                int status = 0;
                ASSERT_EQ(waitpid(pid, &status, 0), pid);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
                EXPECT_EQ(test::readFile(out), kOld);
                EXPECT_EQ(test::listing(dir), name);
            }
        }
    }
    // A write error while standard error is a pipe nobody reads: the
    // message dies of SIGPIPE, and the temporary file is gone all the same.
    test::TempDir dir;
    const std::string out = dir.write("out.ppm", kOld);
    const std::string command = "(ulimit -f 1; " + quoted(FOTOLUME_BINARY) + " " +
                                quoted(example()) + " " + quoted(out) +
                                " 400 300 2>&1 >/dev/null | true)";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(out), kOld);
    EXPECT_EQ(test::listing(dir), "out.ppm");
}

// Success replaces the file the name leads to; special targets are written
// where they are; concurrent runs leave one whole image.
TEST(ReplaceImage, TargetsAreReplacedWholeOrWrittenInPlace) {
    test::TempDir dir;
    const std::string image = dir.path("fresh.ppm");
    ASSERT_EQ(test::runFotolume({example(), image, "8", "6"}).status, EXIT_OK);
    const std::string small = test::readFile(image);
    ASSERT_EQ(small.size(), 11u + 8 * 6 * 3);

    // A replaced file keeps its mode, a private one included, whatever the
    // umask; a new file gets the umask's.
    dir.write("out.ppm", kOld);
    ASSERT_EQ(chmod(dir.path("out.ppm").c_str(), 0604), 0);
    ASSERT_EQ(symlink("out.ppm", dir.path("link.ppm").c_str()), 0);
    ASSERT_EQ(test::runFotolume({example(), dir.path("link.ppm"), "8", "6"}, "umask 027;").status,
              EXIT_OK);
    struct stat info {};
    ASSERT_EQ(lstat(dir.path("link.ppm").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(test::readFile(dir.path("out.ppm")), small);
    ASSERT_EQ(stat(dir.path("out.ppm").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u);
    const std::string secret = dir.write("secret.ppm", kOld);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(test::runFotolume({example(), secret, "8", "6"}, "umask 022;").status, EXIT_OK);
    ASSERT_EQ(stat(secret.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(test::runFotolume({example(), dir.path("new.ppm"), "8", "6"}, "umask 027;").status,
              EXIT_OK);
    ASSERT_EQ(stat(dir.path("new.ppm").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    std::remove(secret.c_str());
    std::remove(dir.path("new.ppm").c_str());

    // Standard output by every name; /dev/stdout appends where the shell says so.
    for (const char* name : {"-", "/dev/stdout", "/dev/fd/1"}) {
        const test::RunResult run = test::runFotolume({example(), name, "8", "6"});
        EXPECT_EQ(run.status, EXIT_OK);
        EXPECT_EQ(run.out, small) << name;
        EXPECT_EQ(test::listing(dir), "fresh.ppm link.ppm out.ppm");
    }
    const std::string log = dir.write("log", "before\n");
    const std::string append =
        quoted(FOTOLUME_BINARY) + " " + quoted(example()) + " /dev/stdout 8 6 >> " + quoted(log);
    ASSERT_EQ(std::system(append.c_str()), 0);
    EXPECT_EQ(test::readFile(log), "before\n" + small);

    // A scene of "-" is standard input; a pipe and a device take the image in place.
    test::RunResult run = test::runFotolume({"-", "-", "8", "6"}, "", "cat " + quoted(example()));
    EXPECT_EQ(run.out, small);
    run = test::runFotolume({example(), "/dev/null", "8", "6"});
    EXPECT_EQ(run.status, EXIT_OK);
    run = test::runFotolume({example(), "/dev/full", "8", "6"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err, "Can't write file /dev/full: No space left on device\n");
    EXPECT_TRUE(test::exists("/dev/full"));

    // Two runs at once: the target ends as one complete image, not a mix.
    const std::string both = quoted(FOTOLUME_BINARY) + " " + quoted(example()) + " " +
                             quoted(dir.path("race.ppm")) + " 8 6 & " + quoted(FOTOLUME_BINARY) +
                             " " + quoted(example()) + " " + quoted(dir.path("race.ppm")) +
                             " 300 200 & wait";
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(std::system(both.c_str()), 0);
        const std::string raced = test::readFile(dir.path("race.ppm"));
        EXPECT_TRUE(raced == small || raced.size() == 15u + 300 * 200 * 3) << raced.size();
    }
    EXPECT_EQ(test::listing(dir), "fresh.ppm link.ppm log out.ppm race.ppm");
}

// Standard descriptors closed at start never become the image's (a
// warning would land in it), and a replacement never carries the
// set-user-ID or set-group-ID bits of the file it replaces.
TEST(ReplaceImage, NothingButTheImageLandsInIt) {
    test::TempDir dir;
    ASSERT_EQ(test::runFotolume({example(), dir.path("good.ppm"), "8", "6"}).status, EXIT_OK);
    const std::string good = test::readFile(dir.path("good.ppm"));
    // The .jpg name forces a warning, the only line the run has to say.
    for (const char* closing : {"2>&-", "1>&- 0<&- 2>/dev/null", "0<&- 1>&- 2>&-"}) {
        SCOPED_TRACE(closing);
        for (bool existing : {false, true}) {
            const std::string image = dir.path("out.jpg");
            std::remove(image.c_str());
            if (existing) dir.write("out.jpg", kOld);
            const std::string command = quoted(FOTOLUME_BINARY) + " " + quoted(example()) + " " +
                                        quoted(image) + " 8 6 " + closing;
            EXPECT_EQ(std::system(command.c_str()), 0);
            EXPECT_EQ(test::readFile(image), good);
        }
    }
    if (geteuid() != 0) return;  // only root can replace another user's file
    const std::string theirs = dir.write("theirs.ppm", kOld);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 06777), 0);
    EXPECT_EQ(test::runFotolume({example(), theirs, "8", "6"}).status, EXIT_OK);
    struct stat info {};
    ASSERT_EQ(stat(theirs.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u);
    EXPECT_EQ(test::readFile(theirs), good);
}

}  // namespace
}  // namespace fotolume
