// The rows of a scene as the reader understood them, for --check --dump:
// where a row starts and what landed in it shows a shifted row at a glance.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "scene/scene.hpp"
#include "scene/tokens.hpp"

namespace fotolume {

namespace {

std::string number(double value) { return exactDecimal(value); }

std::string triple(const Vetor& v) {
    return number(v[0]) + " " + number(v[1]) + " " + number(v[2]);
}

std::string pigmentRow(int i) {
    std::string text = "'" + printable(pigmentKind[i].text) + "'";
    switch (pigmentType[i]) {
    case PigmentType::Solid:
        return text + ", color " + triple(pigmentColor1[i]);
    case PigmentType::Checker:
        return text + ", colors " + triple(pigmentColor1[i]) + " and " + triple(pigmentColor2[i]) +
               ", cell size " + number(pigmentSize[i]);
    case PigmentType::Gradient:
        return text + ", origin " + triple(pigmentOrigin[i]) + ", direction " +
               triple(pigmentDirection[i]) + ", colors " + triple(pigmentColor1[i]) + " and " +
               triple(pigmentColor2[i]);
    case PigmentType::Unknown:
        break;
    }
    return text + ", no type: no values read";
}

std::string objectRow(int i) {
    std::string text = "pigment " + std::to_string(objectPigment[i]) + ", finish " +
                       std::to_string(objectFinish[i]) + ", '" + printable(objectKind[i].text) +
                       "'";
    switch (objectType[i]) {
    case ObjectType::Sphere:
        return text + ", centre " + triple(objectPointA[i]) + ", radius " + number(objectRadius[i]);
    case ObjectType::Triangle:
        return text + ", corners " + triple(objectPointA[i]) + ", " + triple(objectPointB[i]) +
               ", " + triple(objectPointC[i]);
    case ObjectType::Disc:
        return text + ", centre " + triple(objectPointA[i]) + ", radius " +
               number(objectRadius[i]) + ", normal " + triple(objectPointB[i]);
    case ObjectType::Mesh:
    case ObjectType::Smooth:
        if (const MeshRow* mesh = meshOfRow(i))
            return text + ", " + std::to_string(mesh->vertexCount()) + " vertices" +
                   (mesh->smooth ? " with normals" : "") + ", " +
                   std::to_string(mesh->faceCount()) + " faces";
        return text + ", not read whole";
    case ObjectType::Unknown:
        break;
    }
    return text + ", no type: no values read";
}

// The values of a row, from the tables (or the camera as given).
std::string values(const char* owner, int row) {
    const std::string o = owner;
    if (o == "the eye point") return triple(eye);
    if (o == "the look-at point") return triple(cameraInput.lookAt);
    if (o == "the up vector") return triple(cameraInput.up);
    if (o == "the field of view") return number(cameraInput.fieldOfView);
    if (o == "the number of lights") return std::to_string(lightCount);
    if (o == "the number of pigments") return std::to_string(pigmentCount);
    if (o == "the number of finishes") return std::to_string(finishCount);
    if (o == "the number of objects") return std::to_string(objectCount);
    if (o == "light")
        return "position " + triple(lightPosition[row]) + ", color " + triple(lightColor[row]) +
               ", attenuation " + triple(lightAttenuation[row]);
    if (o == "pigment") return pigmentRow(row);
    if (o == "finish")
        return "ambient " + number(finishAmbient[row]) + ", diffuse " + number(finishDiffuse[row]) +
               ", specular " + number(finishSpecular[row]) + ", shininess " +
               number(finishShininess[row]) + ", reflection " + number(finishReflection[row]) +
               ", transmission " + number(finishTransmission[row]) + ", ior " +
               number(finishIor[row]);
    return objectRow(row);
}

}  // namespace

void dumpRows(std::FILE* out, const std::vector<SceneReader::RowAt>& rows) {
    for (const SceneReader::RowAt& row : rows) {
        const std::string what =
            row.row >= 0 ? std::string(row.owner) + " " + std::to_string(row.row) : row.owner;
        std::fprintf(out, "%ld:%ld: %s: %s\n", row.line, row.column, what.c_str(),
                     values(row.owner, row.row).c_str());
    }
}

}  // namespace fotolume
