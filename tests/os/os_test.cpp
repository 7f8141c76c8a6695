// The operating-system room's behaviour, the same cases on every system
// (this file is built into the Windows tests too).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "image/image.hpp"
#include "image/target.hpp"
#include "os/os.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

std::string contentOf(const std::string& path) {
    std::FILE* in = os::openFile(path, "rb");
    if (in == nullptr) return "<missing>";
    std::string text;
    char block[256];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, in)) > 0;) text.append(block, got);
    std::fclose(in);
    return text;
}

void put(const std::string& path, const std::string& text) {
    std::FILE* out = os::openFile(path, "wb");
    ASSERT_NE(out, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}

std::string names(const std::string& folder) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(folder)))
        all += (all.empty() ? "" : " ") + entry.path().filename().u8string();
    return all;
}

// An image written through ImageFile into a folder whose name has blanks
// and letters beyond ASCII, with what was there before and what the run
// does; then what the image holds and what else is in the folder.
TEST(Os, AnImageReplacesThePreviousOneOnlyWhenComplete) {
    struct Case {
        const char* what;
        const char* before;  // nullptr: no image yet
        std::function<bool(ImageFile&, const std::string& image)> run;
        bool committed;
        const char* after;
    };
    const std::string folderName = "a b \xC3\xA7\xC3\xA3o";  // "a b ção"
    const std::string imageName = "imagem \xC3\xB1.ppm";      // "imagem ñ.ppm"
    const Case cases[] = {
        {"a new image", nullptr,
         [](ImageFile& out, const std::string&) { return out.write("new", 3) && out.commit(); },
         true, "new"},
        {"a complete image replaces the previous one", "old",
         [](ImageFile& out, const std::string&) { return out.write("new", 3) && out.commit(); },
         true, "new"},
        {"a failed render keeps the previous image", "old",
         [](ImageFile& out, const std::string&) {
             out.write("ne", 2);
             out.fail(EIO);
             return out.commit();
         },
         false, "old"},
        {"nothing reaches the image before the commit", "old",
         [&](ImageFile& out, const std::string& image) {
             const bool written = out.write("new", 3);
             const bool untouched = contentOf(image) == "old" &&
                                    names(os::folderOf(image)).find(".fotolume-") != std::string::npos;
             return written && untouched && out.commit();
         },
         true, "new"},
        {"an interruption's clean-up removes the temporary file", "old",
         [](ImageFile& out, const std::string&) {
             out.write("new", 3);
             discardPendingImage();  // what the handler does before the process ends
             return out.commit();
         },
         false, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string folder = dir.path(folderName);
        std::filesystem::create_directory(std::filesystem::u8path(folder));
        const std::string image = folder + os::SEPARATOR + imageName;
        if (c.before != nullptr) put(image, c.before);
        {
            ImageFile out;
            ASSERT_TRUE(out.open(image.c_str()));
            EXPECT_EQ(c.run(out, image), c.committed);
        }
        EXPECT_EQ(contentOf(image), c.after);
        EXPECT_EQ(names(folder), imageName) << "nothing left beside the image";
    }
}

// A live run's temporary file is locked: another run's clean-up leaves it,
// while a killed run's leftover (an image's start or nothing, unlocked)
// goes, and a file of the same shape holding something else stays.
TEST(Os, ACleanUpTakesOnlyWhatNoLiveRunHolds) {
    test::TempDir dir;
    const std::string image = dir.path("out.ppm");
    const std::string prefix = temporaryPrefix(image);
    os::Temporary live = os::createTemporary(prefix, "");
    ASSERT_GE(live.fd, 0) << os::errorText(live.error);
    ASSERT_EQ(os::writeAll(live.fd, "P6\n", 3), 0);
    put(prefix + "abc123", "P6\n4 3\n");
    put(prefix + "empty0", "");
    put(prefix + "other1", "a scene, not an image");
    put(prefix + "toolong1", "P6\n");
    const auto found = os::removeStaleTemporaries(prefix, false);
    ASSERT_EQ(found.size(), 2u);
    for (const auto& [path, removed] : found) {
        EXPECT_TRUE(removed) << path;
        EXPECT_TRUE(path == prefix + "abc123" || path == prefix + "empty0") << path;
    }
    EXPECT_EQ(contentOf(live.path), "P6\n");
    EXPECT_EQ(contentOf(prefix + "other1"), "a scene, not an image");
    EXPECT_EQ(contentOf(prefix + "toolong1"), "P6\n");
    // On a network file system nothing is removed, only named.
    put(prefix + "abc124", "P6\n");
    const auto listed = os::removeStaleTemporaries(prefix, true);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_FALSE(listed[0].second);
    EXPECT_EQ(contentOf(prefix + "abc124"), "P6\n");
    // Two runs on one image at once: each its own temporary, neither taken
    // by the other's clean-up, the last to finish whole in place.
    ImageFile first, second;
    ASSERT_TRUE(first.open(image.c_str()));
    ASSERT_TRUE(second.open(image.c_str()));
    EXPECT_TRUE(first.write("first", 5) && second.write("second", 6));
    EXPECT_TRUE(first.commit());
    EXPECT_TRUE(second.commit());
    EXPECT_EQ(contentOf(image), "second");
    os::discardTemporary(live);
    EXPECT_EQ(contentOf(live.path.empty() ? prefix + "gone" : live.path), "<missing>");
}

TEST(Os, FilesAreDescribedAndReadAsTheyAre) {
    test::TempDir dir;
    const std::string file = dir.path("scene.txt");
    put(file, "0123456789");
    const os::FileInfo missing = os::describe(dir.path("none"));
    EXPECT_EQ(missing.kind, os::Kind::Missing);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(os::errorText(ENOENT), "No such file or directory");
    EXPECT_EQ(os::describe(dir.path("")).kind, os::Kind::Folder);
    const os::FileInfo info = os::describe(file);
    EXPECT_EQ(info.kind, os::Kind::Regular);
    EXPECT_EQ(info.size, 10);
    EXPECT_TRUE(info.same(os::describe(dir.path(".") + "/scene.txt")));
    EXPECT_FALSE(info.same(os::describe(dir.path(""))));
    int error = 0;
    const int fd = os::openForReading(file, error);
    ASSERT_GE(fd, 0) << os::errorText(error);
    EXPECT_TRUE(os::describeOpen(fd).same(info));
    char bytes[8] = {};
    EXPECT_EQ(os::readAt(fd, bytes, 4, 6), 4);
    EXPECT_EQ(std::string(bytes, 4), "6789");
    EXPECT_EQ(os::readAt(fd, bytes, 8, 8), 2) << "short only at the end";
    EXPECT_EQ(os::readAt(fd, bytes, 8, 10), 0);
    os::closeFile(fd);
    EXPECT_LT(os::openForReading(dir.path("none"), error), 0);
    EXPECT_EQ(error, ENOENT);
    EXPECT_GE(os::processorsAvailable(), 1);
    // Written over in place, whole or cut to nothing first.
    for (const bool truncate : {false, true}) {
        const int out = os::openForWriting(file, truncate, error);
        ASSERT_GE(out, 0) << os::errorText(error);
        EXPECT_EQ(os::writeAll(out, "ab", 2), 0);
        EXPECT_EQ(os::closeChecked(out), 0);
        EXPECT_EQ(contentOf(file), truncate ? "ab" : "ab23456789");
    }
    EXPECT_LT(os::openForWriting(dir.path("none"), false, error), 0);
    EXPECT_EQ(error, ENOENT);
}

// The words of the errors a user meets are the same on every system.
TEST(Os, ErrorsAreWordedAsEverywhere) {
    const struct {
        int error;
        const char* text;
    } cases[] = {
        {ENOENT, "No such file or directory"}, {EACCES, "Permission denied"},
        {ENOSPC, "No space left on device"},   {EISDIR, "Is a directory"},
        {ENOTDIR, "Not a directory"},          {EEXIST, "File exists"},
        {EPIPE, "Broken pipe"},                {EBADF, "Bad file descriptor"},
    };
    for (const auto& c : cases) EXPECT_EQ(os::errorText(c.error), c.text) << c.error;
}

TEST(Os, NamesThatStandForADescriptor) {
    const struct {
        const char* name;
        int fd;  // -1: a file of that name
    } cases[] = {
        {"-", 1},
        {"/dev/stdout", 1},
        {"/dev/stderr", 2},
        {"out.ppm", -1},
        {"--", -1},
        {"/dev/fd/x", -1},
#ifdef _WIN32
        {"/dev/fd/7", -1},  // no such folder here
#else
        {"/dev/fd/7", 7},
        {"/proc/self/fd/12", 12},
        {"/dev/fd/", -1},
        {"/dev/fd/12345678901", -1},
#endif
    };
    for (const auto& c : cases) EXPECT_EQ(os::namedDescriptor(c.name), c.fd) << c.name;
}

// Text held in memory read as a stream, and a stream printed into memory:
// what the scene reader and the preview's explanations stand on.
TEST(Os, StreamsOverTextInMemory) {
    for (const std::string& held :
         {std::string("12 34.5 end"), std::string(70000, '7') + " 1", std::string()}) {
        std::string text = held;
        std::FILE* in = os::readerOf(text.data(), text.size());
        ASSERT_NE(in, nullptr);
        std::string read;
        for (int c; (c = std::fgetc(in)) != EOF;) read += static_cast<char>(c);
        EXPECT_EQ(read, held);
        std::rewind(in);
        long long first = -1;
        EXPECT_EQ(std::fscanf(in, "%lld", &first), held.empty() ? EOF : 1);
        std::fclose(in);
    }
    os::MemoryStream memory;
    ASSERT_NE(memory.stream(), nullptr);
    std::fprintf(memory.stream(), "pixel %d, %s\n", 7, "\xC3\xA7");
    EXPECT_EQ(memory.take(), "pixel 7, \xC3\xA7\n");
    EXPECT_EQ(memory.stream(), nullptr);
    EXPECT_EQ(memory.take(), "") << "taken once";
}

TEST(Os, AFolderOfAPath) {
    const struct {
        const char* path;
        const char* folder;
    } cases[] = {
        {"image.ppm", "."},
        {"out/image.ppm", "out"},
        {"/image.ppm", "/"},
        {"renders/day 1/image.ppm", "renders/day 1"},
        {"./image.ppm", "."},
#ifdef _WIN32
        {"C:image.ppm", "."},
        {"\\image.ppm", "\\"},
        {"C:\\image.ppm", "C:\\"},
        {"C:\\renders\\image.ppm", "C:\\renders"},
        {"renders\\day 1/image.ppm", "renders\\day 1"},
#endif
    };
    for (const auto& c : cases) EXPECT_EQ(os::folderOf(c.path), c.folder) << c.path;
}

// A save in the folder ends the wait long before its limit.
TEST(Os, AFolderWatchWakesAtASave) {
    test::TempDir dir;
    os::FolderWatch watch(dir.path(""));
    std::thread saver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        put(dir.path("scene.txt"), "saved");
    });
    const auto start = std::chrono::steady_clock::now();
    watch.wait(20000);
    const auto waited = std::chrono::steady_clock::now() - start;
    saver.join();
    EXPECT_LT(waited, std::chrono::seconds(10));
}

}  // namespace
}  // namespace fotolume
