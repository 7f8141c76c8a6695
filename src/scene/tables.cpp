#include <cstring>

#include "scene/scene.hpp"

namespace fotolume {

// The vector globals are defined in the order they are constructed at
// start-up (and destroyed in reverse at exit).
Vetor eye;
Vetor lightPosition[MAX_LIGHTS];
Vetor lightColor[MAX_LIGHTS];
Vetor lightAttenuation[MAX_LIGHTS];
Vetor pigmentColor1[MAX_PIGMENTS];
Vetor pigmentColor2[MAX_PIGMENTS];
Vetor pigmentOrigin[MAX_PIGMENTS];
Vetor pigmentDirection[MAX_PIGMENTS];
Vetor objectPointA[MAX_OBJECTS];
Vetor objectPointB[MAX_OBJECTS];
Vetor objectPointC[MAX_OBJECTS];
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
char pigmentKind[MAX_PIGMENTS][KIND_SIZE] = {};
PigmentType pigmentType[MAX_PIGMENTS] = {};
double pigmentSize[MAX_PIGMENTS] = {};

int finishCount = 0;
double finishAmbient[MAX_FINISHES] = {};
double finishDiffuse[MAX_FINISHES] = {};
double finishSpecular[MAX_FINISHES] = {};
double finishShininess[MAX_FINISHES] = {};
double finishReflection[MAX_FINISHES] = {};
double finishTransmission[MAX_FINISHES] = {};
double finishIor[MAX_FINISHES] = {};

int objectCount = 0;
int objectPigment[MAX_OBJECTS] = {};
int objectFinish[MAX_OBJECTS] = {};
char objectKind[MAX_OBJECTS][KIND_SIZE] = {};
ObjectType objectType[MAX_OBJECTS] = {};
double objectRadius[MAX_OBJECTS] = {};

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
    return ObjectType::Unknown;
}

namespace {
template <int N>
void zero(Vetor (&table)[N]) {
    for (Vetor& v : table) set(v, 0.0, 0.0, 0.0);
}
}  // namespace

RowLines rowLines;

long lineOfRow(const std::vector<long>& lines, int row) {
    return row >= 0 && static_cast<std::size_t>(row) < lines.size() ? lines[row] : 0;
}

void resetScene() {
    rowLines = RowLines{};
    set(eye, 0.0, 0.0, 0.0);
    zero(lightPosition);
    zero(lightColor);
    zero(lightAttenuation);
    zero(pigmentColor1);
    zero(pigmentColor2);
    zero(pigmentOrigin);
    zero(pigmentDirection);
    zero(objectPointA);
    zero(objectPointB);
    zero(objectPointC);
    set(cameraRight, 0.0, 0.0, 0.0);
    set(cameraUp, 0.0, 0.0, 0.0);
    set(cameraBack, 0.0, 0.0, 0.0);
    set(backgroundColor, 0.5, 0.5, 0.5);

    imageWidth = imageHeight = 0;
    planeWidth = planeHeight = pixelSize = 0.0;
    traceDepth = 0;
    lightCount = pigmentCount = finishCount = objectCount = 0;
    std::memset(pigmentKind, 0, sizeof pigmentKind);
    std::memset(objectKind, 0, sizeof objectKind);
    for (int i = 0; i < MAX_PIGMENTS; ++i) {
        pigmentType[i] = PigmentType::Unknown;
        pigmentSize[i] = 0.0;
    }
    for (int i = 0; i < MAX_FINISHES; ++i) {
        finishAmbient[i] = finishDiffuse[i] = finishSpecular[i] = finishShininess[i] = 0.0;
        finishReflection[i] = finishTransmission[i] = finishIor[i] = 0.0;
    }
    for (int i = 0; i < MAX_OBJECTS; ++i) {
        objectPigment[i] = objectFinish[i] = 0;
        objectType[i] = ObjectType::Unknown;
        objectRadius[i] = 0.0;
    }
    sceneChanged();
}

}  // namespace fotolume
