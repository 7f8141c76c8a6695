// --watch: the image follows the scene through edits in place, renames over
// it, a deletion and a broken version; a save during a render abandons it.
// Runs the built binary in the background.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

pid_t startWatching(const std::vector<std::string>& args, const std::string& err) {
    std::vector<std::string> all = {"--watch", "-q"};
    all.insert(all.end(), args.begin(), args.end());
    return test::startFotolume(all, err);
}

// Waits up to a minute (sanitizer builds are slow) for the condition.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 6000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

std::string rendered(const std::string& scene, const char* size[2]) {
    return test::runFotolume({"-q", scene, "-", size[0], size[1]}).out;
}

TEST(Watch, TheImageFollowsTheScene) {
    test::TempDir dir;
    const std::string original = test::readFile(test::sourcePath("scenes/example.txt"));
    std::string blue = original;
    blue.replace(blue.find("solid 1 0 0"), 11, "solid 0 0 1.0");  // another size too
    const std::string scene = dir.write("scene.txt", original);
    const std::string out = dir.path("out.ppm"), err = dir.path("err.txt");
    const char* size[2] = {"32", "24"};
    const std::string red = rendered(scene, size),
                      blueImage = rendered(dir.write("b.txt", blue), size);
    const pid_t pid = startWatching({scene, out, size[0], size[1]}, err);
    ASSERT_GT(pid, 0);
    const auto renders = [&](int n) {
        return eventually([&] { return count(test::readFile(err), "fotolume: rendered ") >= n; });
    };
    ASSERT_TRUE(renders(1)) << test::readFile(err);
    EXPECT_TRUE(test::readFile(out) == red);
    dir.write("scene.txt", blue);  // rewritten in place
    ASSERT_TRUE(renders(2)) << test::readFile(err);
    EXPECT_TRUE(test::readFile(out) == blueImage);
    // Saved by writing a new file and renaming it over the scene.
    dir.write("new.txt", original);
    ASSERT_EQ(std::rename(dir.path("new.txt").c_str(), scene.c_str()), 0);
    ASSERT_TRUE(renders(3)) << test::readFile(err);
    EXPECT_TRUE(test::readFile(out) == red);
    // Deleted, then a broken version: the last good image stays.
    std::remove(scene.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    dir.write("scene.txt", "0 0 5 0 0 0\n");
    ASSERT_TRUE(eventually([&] { return count(test::readFile(err), "nothing rendered") >= 1; }))
        << test::readFile(err);
    EXPECT_TRUE(test::readFile(out) == red);
    dir.write("scene.txt", blue);  // restored
    ASSERT_TRUE(renders(4)) << test::readFile(err);
    EXPECT_TRUE(test::readFile(out) == blueImage);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(test::listing(dir), "b.txt err.txt out.ppm scene.txt");
}

// A save during a render abandons it: the image that stays is the newer
// scene's, never the older one's.
TEST(Watch, ASaveDuringARenderStartsItOver) {
    test::TempDir dir;
    const std::string slow = test::readFile(test::sourcePath("bench/scenes/recursion.txt"));
    const std::string scene = dir.write("scene.txt", slow);
    const std::string out = dir.path("out.ppm"), err = dir.path("err.txt");
#ifdef FOTOLUME_SANITIZED
    const char* size[2] = {"320", "240"};  // slower builds: a smaller image lasts as long
#else
    const char* size[2] = {"1600", "1200"};
#endif
    const pid_t pid = startWatching({scene, out, size[0], size[1]}, err);
    ASSERT_GT(pid, 0);
    // Once the render has its temporary file, the scene changes.
    ASSERT_TRUE(
        eventually([&] { return test::listing(dir).find(".fotolume-") != std::string::npos; }));
    const std::string changed = slow + "\n";  // the same scene, one byte longer
    dir.write("scene.txt", changed);
    ASSERT_TRUE(eventually([&] { return count(test::readFile(err), "fotolume: rendered ") >= 1; }))
        << test::readFile(err);
    const std::string said = test::readFile(err);
    EXPECT_NE(said.find("changed during the render: starting again"), std::string::npos) << said;
    EXPECT_EQ(count(said, "fotolume: rendered "), 1) << said;
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(test::listing(dir), "err.txt out.ppm scene.txt");
    EXPECT_EQ(test::readFile(out), rendered(scene, size));
}

// What cannot be watched is said: an image that is its own scene ends the
// run at once, --watch with --explain or --serve is a usage error; a fifo
// put in the scene's place is refused without waiting for a writer, and
// watching goes on; "keeps its last image" only while there is one.
TEST(Watch, WhatCannotBeWatchedIsSaid) {
    test::TempDir dir;
    const std::string original = test::readFile(test::sourcePath("scenes/example.txt"));
    const std::string scene = dir.write("scene.txt", original);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* said;
    } rows[] = {
        {{"--watch", scene, scene, "8", "6"}, EXIT_FAILURE_INPUT, "is the scene file"},
        {{"--watch", "--explain", "1,1", scene, "8", "6"}, EXIT_USAGE, "does not go with --explain"},
        {{"--watch", "--serve", scene, "8", "6"}, EXIT_USAGE, "does not go with --serve"},
    };
    for (const auto& row : rows) {
        const test::RunResult run = test::runFotolume(row.args, "timeout 20");
        EXPECT_EQ(run.status, row.status) << run.err;
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
    }
    EXPECT_EQ(test::readFile(scene), original);

    ASSERT_EQ(mkdir(dir.path("images").c_str(), 0700), 0);
    const std::string out = dir.path("images/out.ppm"), err = dir.path("err.txt");
    const pid_t pid = startWatching({scene, out, "8", "6"}, err);
    ASSERT_GT(pid, 0);
    const auto said = [&](const char* what, int n) {
        return eventually([&] { return count(test::readFile(err), what) >= n; });
    };
    ASSERT_TRUE(said("fotolume: rendered ", 1)) << test::readFile(err);
    std::remove(scene.c_str());
    ASSERT_EQ(mkfifo(scene.c_str(), 0600), 0);
    ASSERT_TRUE(said("not a regular file", 1)) << test::readFile(err);
    ASSERT_TRUE(said("keeps its last image", 1)) << test::readFile(err);
    std::remove(scene.c_str());
    dir.write("scene.txt", original);
    ASSERT_TRUE(said("fotolume: rendered ", 2)) << test::readFile(err);
    // The image's folder goes: nothing is kept, so nothing is said to be.
    std::remove(out.c_str());
    ASSERT_EQ(rmdir(dir.path("images").c_str()), 0);
    dir.write("scene.txt", original + "\n");
    ASSERT_TRUE(said("nothing rendered; watching", 1)) << test::readFile(err);
    EXPECT_EQ(count(test::readFile(err), "keeps its last image"), 1) << test::readFile(err);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
}

}  // namespace
}  // namespace fotolume
