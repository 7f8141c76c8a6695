#include "support/support.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "scene/scene.hpp"

extern char** environ;

namespace fotolume::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fotolume-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    const std::string file = path(name);
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

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

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
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

bool exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::string listing(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path("")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

std::string loadScene(const std::string& text, int width, int height, bool* accepted) {
    TempDir dir;
    const std::string file = dir.write("scene.txt", text);
    resetScene();
    imageWidth = width;
    imageHeight = height;
    std::FILE* diagnostics = std::tmpfile();
    const ReadStatus status = readScene(file.c_str(), diagnostics);
    if (accepted != nullptr) *accepted = status == ReadStatus::Ok;
    std::rewind(diagnostics);
    std::string printed;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, diagnostics)) > 0)
        printed.append(buffer, got);
    std::fclose(diagnostics);
    // Name-independent: tests compare from the line number on.
    const std::string prefix = file + ":";
    for (std::size_t at; (at = printed.find(prefix)) != std::string::npos;)
        printed.replace(at, prefix.size(), "scene:");
    return printed;
}

const char* const kWorkedExample =
    "0 1 6\n0 0 0\n0 1 0\n45\n2\n"
    "0 0 0 0.2 0.2 0.2 1 0 0\n"
    "10 10 10 1 1 1 1 0 0\n"
    "2\nsolid 1 0 0\nchecker 1 1 1 0 0 0 0.5\n"
    "1\n1 0.7 0.3 20 0 0 1\n"
    "2\n0 0 sphere 0 0 0 1\n1 0 disc 0 -1 0 5 0 1 0\n";

std::string sourcePath(const std::string& relative) {
    return std::string(FOTOLUME_SOURCE_DIR) + "/" + relative;
}

}  // namespace fotolume::test

namespace fotolume::test {

namespace {
int addObject(ObjectType type, const char* word, int finish, int pigment) {
    const int i = objectCount++;
    growObjects(objectCount);
    objectType[i] = type;
    std::snprintf(objectKind[i], KIND_SIZE, "%s", word);
    objectFinish[i] = finish;
    objectPigment[i] = pigment;
    sceneChanged();
    return i;
}
}  // namespace

int addSphere(const Vetor& centre, double radius, int finish, int pigment) {
    const int i = addObject(ObjectType::Sphere, "sphere", finish, pigment);
    objectPointA[i] = centre;
    objectRadius[i] = radius;
    return i;
}

int addTriangle(const Vetor& a, const Vetor& b, const Vetor& c, int finish, int pigment) {
    const int i = addObject(ObjectType::Triangle, "triangle", finish, pigment);
    objectPointA[i] = a;
    objectPointB[i] = b;
    objectPointC[i] = c;
    return i;
}

int addMesh(const std::vector<double>& points, const std::vector<int>& faces,
            const std::vector<double>& normals, int finish, int pigment) {
    const bool smooth = !normals.empty();
    const int i = addObject(smooth ? ObjectType::Smooth : ObjectType::Mesh,
                            smooth ? "smooth" : "mesh", finish, pigment);
    MeshRow mesh;
    mesh.row = i;
    mesh.smooth = smooth;
    mesh.points = points;
    mesh.normals = normals;
    mesh.faces = faces;
    meshes.push_back(mesh);
    return i;
}

int addDisc(const Vetor& centre, double radius, const Vetor& normal, int finish, int pigment) {
    const int i = addObject(ObjectType::Disc, "disc", finish, pigment);
    objectPointA[i] = centre;
    objectRadius[i] = radius;
    objectPointB[i] = normal;
    return i;
}

int addFinish(double ambient, double diffuse, double specular, double shininess, double reflection,
              double transmission, double ior) {
    const int i = finishCount++;
    growFinishes(finishCount);
    finishAmbient[i] = ambient;
    finishDiffuse[i] = diffuse;
    finishSpecular[i] = specular;
    finishShininess[i] = shininess;
    finishReflection[i] = reflection;
    finishTransmission[i] = transmission;
    finishIor[i] = ior;
    return i;
}

int addSolid(const Vetor& color) {
    const int i = pigmentCount++;
    growPigments(pigmentCount);
    pigmentType[i] = PigmentType::Solid;
    std::snprintf(pigmentKind[i], KIND_SIZE, "solid");
    pigmentColor1[i] = color;
    return i;
}

int addLight(const Vetor& position, const Vetor& color, const Vetor& attenuation) {
    const int i = lightCount++;
    growLights(lightCount);
    lightPosition[i] = position;
    lightColor[i] = color;
    lightAttenuation[i] = attenuation;
    return i;
}

}  // namespace fotolume::test
