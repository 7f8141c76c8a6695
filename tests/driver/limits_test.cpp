// Runs under the machine's limits: memory, threads and stack.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::runFotolume;

std::string example() { return test::sourcePath("scenes/example.txt"); }

// Memory that runs out anywhere, from start-up to the last pixel, is the
// one message and status 1, never an abort; the previous image stays and no
// temporary file is left. The limits sweep the range where start-up, reading
// and rendering each run out. (AddressSanitizer needs far more address space
// than these limits allow, so not under it.)
TEST(CommandLine, RunningOutOfMemoryAnywhereIsReported) {
#ifdef FOTOLUME_SANITIZED
    GTEST_SKIP() << "a virtual-memory limit and AddressSanitizer do not mix";
#endif
    test::TempDir dir;
    const std::string out = dir.write("out.ppm", "previous image");
    int reported = 0, rendered = 0;
    for (int kib = 5000; kib <= 9000; kib += 250) {
        const test::RunResult run =
            runFotolume({example(), out, "64", "48"}, "ulimit -v " + std::to_string(kib) + ";");
        SCOPED_TRACE(std::to_string(kib) + " KiB: " + run.err);
        if (run.status == 127) {  // the loader (or the shell) could not map the program: not ours
            EXPECT_TRUE(run.err.find("error while loading shared libraries") != std::string::npos ||
                        run.err.find("out of memory") != std::string::npos);
            continue;
        }
        // Just above that, the loader can fail to set up the program's
        // thread storage and crash before it starts: --version, which does
        // nothing of the program's, crashes the same way there.
        if (run.status != EXIT_OK && run.status != EXIT_FAILURE_INPUT &&
            runFotolume({"--version"}, "ulimit -v " + std::to_string(kib) + ";").status ==
                run.status)
            continue;
        if (run.status == EXIT_FAILURE_INPUT) {
            EXPECT_EQ(run.err, "Memoria insuficiente\n");
            EXPECT_EQ(test::readFile(out), "previous image");
            ++reported;
        } else {
            EXPECT_EQ(run.status, EXIT_OK);
            EXPECT_EQ(test::readFile(out).size(), 13u + 64 * 48 * 3);  // "P6\n64 48\n255\n"
            dir.write("out.ppm", "previous image");
            ++rendered;
        }
        EXPECT_EQ(test::listing(dir), "out.ppm");
    }
    EXPECT_GT(reported, 0);
    EXPECT_GT(rendered, 0);

    // Where one thread fits, more threads than fit never fail the run: it
    // goes on with those that fit and says how many, with the same bytes.
    const std::string reference =
        runFotolume({"-t", "1", "--samples", "2", example(), "-", "160", "120"}).out;
    int shortened = 0;
    for (int kib = 10000; kib <= 60000; kib += 2500) {
        const test::RunResult run =
            runFotolume({"-t", "4", "--samples", "2", example(), out, "160", "120"},
                        "ulimit -v " + std::to_string(kib) + ";");
        SCOPED_TRACE(std::to_string(kib) + " KiB: " + run.err);
        EXPECT_EQ(run.status, EXIT_OK);
        const bool said =
            run.err.rfind("fotolume: memory or threads ran short: traced on ", 0) == 0;
        EXPECT_TRUE(run.err.empty() || said);
        shortened += said;
        EXPECT_EQ(test::readFile(out), reference);
    }
    EXPECT_GT(shortened, 0);
}

// A count is a promise, not an allocation: two billion objects over ten
// rows are refused at once, in the memory the ten rows need.
TEST(CommandLine, HugeCountsOverFewRowsCostNoMemory) {
#ifdef FOTOLUME_SANITIZED
    GTEST_SKIP() << "a virtual-memory limit and AddressSanitizer do not mix";
#endif
    test::TempDir dir;
    std::string text =
        "0 0 5 0 0 0 0 1 0 60\n1 0 0 0 1 1 1 0 0 0\n1 solid 1 1 1\n"
        "1 1 0 0 0 0 0 1\n2000000000\n";
    for (int i = 0; i < 10; ++i) text += "0 0 sphere 0 0 0 1\n";
    const std::string scene = dir.write("scene.txt", text);
    const test::RunResult run =
        runFotolume({scene, dir.path("out.ppm"), "8", "6"}, "ulimit -v 60000;");
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err, scene +
                           ":5:1: error: 2000000000 objects are counted here, but only 10 "
                           "complete rows follow (past 200 objects, every counted row must be in "
                           "the file)\n");
    EXPECT_FALSE(test::exists(dir.path("out.ppm")));
}

// A small stack is enough on every path: nothing large lives on it, on the
// main thread or the render threads (whose stacks take the same limit), the
// hierarchy's search included. (Below about 20 KiB, the C library's own
// formatted reading runs short.)
TEST(CommandLine, SmallStacksSuffice) {
#ifdef FOTOLUME_SANITIZED
    GTEST_SKIP() << "the sanitizers' own frames need larger stacks";
#endif
    test::TempDir dir;
    for (const char* scene : {"bench/scenes/recursion.txt", "bench/scenes/mesh.txt"}) {
        for (const char* threads : {"1", "3"}) {
            const test::RunResult run =
                runFotolume({"-t", threads, "--samples", "3", test::sourcePath(scene),
                             dir.path("out.png"), "64", "48"},
                            "ulimit -s 32;");
            EXPECT_EQ(run.status, EXIT_OK) << scene << " " << run.err;
            EXPECT_EQ(run.err, "");
        }
    }
}

// The preview and the importer run out in words too: across a sweep of
// memory limits, each run is status 1 with a message (no abort, no hang),
// or it works (the server serves until stopped).
TEST(CommandLine, ThePreviewAndTheImporterRunOutInWords) {
#ifdef FOTOLUME_SANITIZED
    GTEST_SKIP() << "a virtual-memory limit and AddressSanitizer do not mix";
#endif
#ifndef FOTOLUME_HAVE_SERVE
    GTEST_SKIP() << "this build has no preview program";
#endif
    int refused = 0, served = 0;
    for (int kib = 10000; kib <= 70000; kib += 10000) {
        const test::RunResult run = runFotolume({"--serve", example(), "64", "48"},
                                                "ulimit -v " + std::to_string(kib) + "; timeout 2");
        SCOPED_TRACE(std::to_string(kib) + " KiB: " + run.err);
        if (run.status == 127) continue;  // the loader could not map the program: not ours
        EXPECT_TRUE(run.status == EXIT_FAILURE_INPUT || run.status == 124) << run.status;
        EXPECT_EQ(run.err.find("terminate called"), std::string::npos);
        if (run.status == EXIT_FAILURE_INPUT) {
            EXPECT_TRUE(run.err.find("Memoria insuficiente") != std::string::npos ||
                        run.err.find("cannot be served") != std::string::npos);
            ++refused;
        } else {
            ++served;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(served, 0);
#ifdef FOTOLUME_IMPORT_BINARY
    // A sphere of 200,000 faces.
    test::TempDir dir;
    std::string model;
    const int n = 317;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j < n; ++j)
            model += "v " + std::to_string(i) + " " + std::to_string(j) + " " +
                     std::to_string((i * j) % 7) + "\n";
    for (int i = 0; i < n; ++i)
        for (int j = 0; j + 1 < n; ++j) {
            const int a = i * n + j + 1, b = a + 1, c = a + n, d = c + 1;
            model += "f " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) +
                     "\nf " + std::to_string(b) + " " + std::to_string(d) + " " + std::to_string(c) +
                     "\n";
        }
    const std::string file = dir.write("big.obj", model);
    int short_ = 0, imported = 0;
    for (int kib = 40000; kib <= 400000; kib += 60000) {
        const std::string command = "ulimit -v " + std::to_string(kib) + "; '" +
                                    FOTOLUME_IMPORT_BINARY + "' '" + file + "' >/dev/null 2>'" +
                                    dir.path("err") + "'";
        const int raw = std::system(("/bin/sh -c \"" + command + "\"").c_str());
        const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const std::string err = test::readFile(dir.path("err"));
        SCOPED_TRACE(std::to_string(kib) + " KiB: " + err);
        if (status == 127) continue;
        EXPECT_TRUE(status == 0 || status == 1) << status;
        if (status == 1) {
            EXPECT_NE(err.find("out of memory"), std::string::npos);
            ++short_;
        } else {
            ++imported;
        }
    }
    EXPECT_GT(short_, 0);
    EXPECT_GT(imported, 0);
#endif
}

}  // namespace
}  // namespace fotolume
