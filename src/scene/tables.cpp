#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "scene/scene.hpp"

namespace fotolume {

// The vector globals are defined in the order they are constructed at
// start-up (and destroyed in reverse at exit).
Vetor eye;
std::vector<Vetor> lightPosition;
std::vector<Vetor> lightColor;
std::vector<Vetor> lightAttenuation;
std::vector<Vetor> pigmentColor1;
std::vector<Vetor> pigmentColor2;
std::vector<Vetor> pigmentOrigin;
std::vector<Vetor> pigmentDirection;
std::vector<Vetor> objectPointA;
std::vector<Vetor> objectPointB;
std::vector<Vetor> objectPointC;
Vetor cameraRight;
Vetor cameraUp;
Vetor cameraBack;
Vetor backgroundColor(0.5, 0.5, 0.5);

int imageWidth = 0;
int imageHeight = 0;
double planeWidth = 0.0;
double planeHeight = 0.0;
double pixelSize = 0.0;

unsigned sceneVersion = 1;  // 0 is never current: nothing is built yet

void sceneChanged() {
    if (++sceneVersion == 0) sceneVersion = 1;  // never 0 after wrapping around
}

int lightCount = 0;

int pigmentCount = 0;
std::vector<KindWord> pigmentKind;
std::vector<PigmentType> pigmentType;
std::vector<double> pigmentSize;

int finishCount = 0;
std::vector<double> finishAmbient;
std::vector<double> finishDiffuse;
std::vector<double> finishSpecular;
std::vector<double> finishShininess;
std::vector<double> finishReflection;
std::vector<double> finishTransmission;
std::vector<double> finishIor;

int objectCount = 0;
std::vector<int> objectPigment;
std::vector<int> objectFinish;
std::vector<KindWord> objectKind;
std::vector<ObjectType> objectType;
std::vector<double> objectRadius;
std::vector<MeshRow> meshes;

const MeshRow* meshOfRow(int row) {
    const auto at = std::lower_bound(meshes.begin(), meshes.end(), row,
                                     [](const MeshRow& m, int r) { return m.row < r; });
    return at != meshes.end() && at->row == row ? &*at : nullptr;
}

long long meshFaceCount() {
    long long faces = 0;
    for (const MeshRow& mesh : meshes) faces += mesh.faceCount();
    return faces;
}

namespace {

template <typename... Columns>
void grow(int rows, Columns&... columns) {
    const std::size_t size = rows > 0 ? static_cast<std::size_t>(rows) : 0;
    ((columns.size() < size ? columns.resize(size) : void()), ...);
}

}  // namespace

void growLights(int rows) { grow(rows, lightPosition, lightColor, lightAttenuation); }

void growPigments(int rows) {
    grow(rows, pigmentKind, pigmentType, pigmentSize, pigmentColor1, pigmentColor2, pigmentOrigin,
         pigmentDirection);
}

void growFinishes(int rows) {
    grow(rows, finishAmbient, finishDiffuse, finishSpecular, finishShininess, finishReflection,
         finishTransmission, finishIor);
}

void growObjects(int rows) {
    grow(rows, objectPigment, objectFinish, objectKind, objectType, objectRadius, objectPointA,
         objectPointB, objectPointC);
}

std::string exactDecimal(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

PigmentType pigmentTypeOf(const char* word) {
    if (std::strcmp(word, "solid") == 0) return PigmentType::Solid;
    if (std::strcmp(word, "checker") == 0) return PigmentType::Checker;
    if (std::strcmp(word, "gradient") == 0) return PigmentType::Gradient;
    return PigmentType::Unknown;
}

ObjectType objectTypeOf(const char* word) {
    if (std::strcmp(word, "sphere") == 0) return ObjectType::Sphere;
    if (std::strcmp(word, "triangle") == 0) return ObjectType::Triangle;
    if (std::strcmp(word, "disc") == 0) return ObjectType::Disc;
    if (std::strcmp(word, "mesh") == 0) return ObjectType::Mesh;
    if (std::strcmp(word, "smooth") == 0) return ObjectType::Smooth;
    return ObjectType::Unknown;
}

RowLines rowLines;
CameraInput cameraInput;
long long sceneLimitMib = DEFAULT_SCENE_LIMIT_MIB;

long lineOfRow(const std::vector<long>& lines, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < lines.size() ? lines[row] : 0;
}

void resetScene() {
    rowLines = RowLines{};
    set(eye, 0.0, 0.0, 0.0);
    set(cameraRight, 0.0, 0.0, 0.0);
    set(cameraUp, 0.0, 0.0, 0.0);
    set(cameraBack, 0.0, 0.0, 0.0);
    set(backgroundColor, 0.5, 0.5, 0.5);

    imageWidth = imageHeight = 0;
    planeWidth = planeHeight = pixelSize = 0.0;
    traceDepth = 0;
    lightCount = pigmentCount = finishCount = objectCount = 0;
    for (auto* table :
         {&lightPosition, &lightColor, &lightAttenuation, &pigmentColor1, &pigmentColor2,
          &pigmentOrigin, &pigmentDirection, &objectPointA, &objectPointB, &objectPointC})
        std::vector<Vetor>().swap(*table);
    for (auto* table :
         {&pigmentSize, &finishAmbient, &finishDiffuse, &finishSpecular, &finishShininess,
          &finishReflection, &finishTransmission, &finishIor, &objectRadius})
        std::vector<double>().swap(*table);
    std::vector<KindWord>().swap(pigmentKind);
    std::vector<KindWord>().swap(objectKind);
    std::vector<PigmentType>().swap(pigmentType);
    std::vector<ObjectType>().swap(objectType);
    std::vector<int>().swap(objectPigment);
    std::vector<int>().swap(objectFinish);
    std::vector<MeshRow>().swap(meshes);
    sceneChanged();
}

}  // namespace fotolume
