// The helpers that run the built program as another process (through the
// shell, as a user would), and read back the PNG it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/support.hpp"

extern char** environ;

namespace fotolume::test {

namespace {
// A cross-built program runs through its emulator.
std::string programPrefix() {
#ifdef FOTOLUME_TEST_EMULATOR
    return FOTOLUME_TEST_EMULATOR " ";
#else
    return "";
#endif
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
}  // namespace

RunResult runFotolume(const std::vector<std::string>& args, const std::string& shellPrefix,
                      const std::string& feed) {
    TempDir capture;
    std::string command = shellPrefix + " " + (feed.empty() ? "" : feed + " | ") + programPrefix() +
                          shellQuote(FOTOLUME_BINARY);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(capture.path("out")) + " 2>" + shellQuote(capture.path("err"));
    if (feed.empty()) command += " </dev/null";
    const int raw = std::system(("/bin/sh -c " + shellQuote(command)).c_str());
    RunResult result;
    if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    result.out = readFile(capture.path("out"));
    result.err = readFile(capture.path("err"));
    return result;
}

std::string pixels(const std::string& scene, int width, int height) {
    TempDir dir;
    const std::string out = dir.path("out.ppm");
    const test::RunResult run =
        runFotolume({scene, out, std::to_string(width), std::to_string(height)});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const std::string image = readFile(out);
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    EXPECT_EQ(image.substr(0, header.size()), header);
    EXPECT_EQ(image.size(), header.size() + 3u * width * height);
    return image.substr(header.size());
}

int startFotolume(const std::vector<std::string>& args, const std::string& err) {
    std::vector<std::string> all = {FOTOLUME_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string pngAsPpm(const std::string& path) {
    const std::string file = readFile(path);
    // The header as the writer promises it: 8 bits, RGB (type 2), no interlace.
    if (file.size() < 33 || file.compare(12, 4, "IHDR") != 0 || file[24] != 8 || file[25] != 2 ||
        file[28] != 0)
        return "";
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return "";
    image.format = PNG_FORMAT_RGB;
    std::string pixels(PNG_IMAGE_SIZE(image), '\0');
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return "";
    return "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n" +
           pixels;
}

}  // namespace fotolume::test
