// Helpers shared by the tests: temporary files, running the built binary,
// and loading a scene from text.
#pragma once

#include <string>
#include <vector>

namespace fotolume::test {

// A fresh directory under the system temp dir, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string dir_;
};

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs the fotolume binary with the arguments, each quoted for the shell.
// `shellPrefix` (e.g. "ulimit -f 1;") runs before it in the same shell.
RunResult runFotolume(const std::vector<std::string>& args, const std::string& shellPrefix = "");

std::string readFile(const std::string& path);
bool exists(const std::string& path);

// Resets the tables, sets the image size and reads `text` as a scene file.
// Returns the diagnostics the reader printed.
std::string loadScene(const std::string& text, int width = 4, int height = 3,
                      bool* accepted = nullptr);

std::string sourcePath(const std::string& relative);

}  // namespace fotolume::test
