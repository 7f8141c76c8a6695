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
// `shellPrefix` (e.g. "ulimit -f 1;") runs before it in the same shell;
// `feed`, when given, is a shell command piped into its standard input.
RunResult runFotolume(const std::vector<std::string>& args, const std::string& shellPrefix = "",
                      const std::string& feed = "");

// Starts the binary in the background with default signal handling, its
// standard output discarded and its standard error written to `err`; the
// process id, or -1.
int startFotolume(const std::vector<std::string>& args, const std::string& err = "/dev/null");

std::string readFile(const std::string& path);
// The bytes of the pixels (after the header) of the scene rendered as a
// PPM at the size, checking that the run went well and said nothing.
std::string pixels(const std::string& scene, int width, int height);
// A PNG file decoded by libpng and given back as the binary PPM of the same
// pixels; "" when the file is no 8-bit RGB, non-interlaced PNG.
std::string pngAsPpm(const std::string& path);
bool exists(const std::string& path);
// The names in the directory, hidden ones too, sorted and space-separated.
std::string listing(const TempDir& dir);

// Resets the tables, sets the image size and reads `text` as a scene file.
// Returns the diagnostics the reader printed.
std::string loadScene(const std::string& text, int width = 4, int height = 3,
                      bool* accepted = nullptr);

std::string sourcePath(const std::string& relative);

// The scene file format's worked example (a red sphere on a checker disc),
// one item per line, 15 lines.
extern const char* const kWorkedExample;

}  // namespace fotolume::test

#include "geometry/geometry.hpp"

namespace fotolume::test {

// Direct table writers for tests that build a scene without a file. Each
// returns the new row. Finish 0 and pigment 0 are used unless given.
int addSphere(const Vetor& centre, double radius, int finish = 0, int pigment = 0);
int addTriangle(const Vetor& a, const Vetor& b, const Vetor& c, int finish = 0, int pigment = 0);
int addDisc(const Vetor& centre, double radius, const Vetor& normal, int finish = 0,
            int pigment = 0);
// A mesh row (a smooth one when `normals` are given: three a vertex).
int addMesh(const std::vector<double>& points, const std::vector<int>& faces,
            const std::vector<double>& normals = {}, int finish = 0, int pigment = 0);
int addFinish(double ambient, double diffuse, double specular, double shininess, double reflection,
              double transmission, double ior);
int addSolid(const Vetor& color);
int addLight(const Vetor& position, const Vetor& color, const Vetor& attenuation);

}  // namespace fotolume::test
