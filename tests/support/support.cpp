#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume::test {

TempDir::TempDir() {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / ("fotolume-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            dir_ = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
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

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
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
    os::MemoryStream said;
    std::FILE* diagnostics = said.stream();
    const ReadStatus status = readScene(file.c_str(), diagnostics != nullptr ? diagnostics : stderr);
    if (accepted != nullptr) *accepted = status == ReadStatus::Ok;
    std::string printed = said.take();
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
