// Reading the tables: the camera's rows, then each section's count and its
// rows, with what a count promises past the classic sizes.
#include <algorithm>
#include <string>
#include <vector>

#include "scene/scene.hpp"
#include "scene/tokens.hpp"

namespace fotolume {

namespace {

const char* const XYZ[3] = {"x", "y", "z"};
const char* const RGB[3] = {"red", "green", "blue"};

// A table's count and what it promises. The tables always hold the classic
// number of rows, zero rows where the file has none; within that size a
// section may end early. Past it a row gets its place when it is read, and
// every counted row must be in the file.
struct Section {
    const char* plural;  // "lights"
    int classic;
    void (*grow)(int rows);
    int count = 0;
    long countAt = 0;  // where the count stands, for the refusal
    bool promised() const { return count > classic; }
};

// The count of a section; false (refused) when it is past the int range.
bool readCount(SceneReader& reader, Section& section, int& count, const char* name) {
    section.countAt = reader.offset();
    reader.beginRow();
    reader.integer(count, Field{name});
    reader.endRow(name);
    section.count = count;
    if (reader.pastIntRange()) {
        reader.error(section.countAt, "more than %d %s, but a table holds at most %d rows", count,
                     section.plural, count);
        return false;
    }
    // The classic rows are always there: light 0's colour, for one, is read
    // whatever the count.
    section.grow(section.promised() ? section.classic : std::max(count, section.classic));
    return true;
}

bool refuseShortSection(SceneReader& reader, const Section& section, int complete) {
    reader.error(section.countAt,
                 "%d %s are counted here, but only %d complete rows follow (past %d %s, "
                 "every counted row must be in the file)",
                 section.count, section.plural, complete, section.classic, section.plural);
    return false;
}

// Before row `row`: its place in the tables, or, past the classic size with
// no text left, the refusal.
bool rowAhead(SceneReader& reader, const Section& section, int row) {
    if (!section.promised()) return true;
    if (!reader.moreText(reader.offset())) return refuseShortSection(reader, section, row);
    section.grow(row + 1);
    return true;
}

// After row `row`: past the classic size, a value that did not convert (or
// the end of the file) refuses the section.
bool rowDone(SceneReader& reader, const Section& section, int row) {
    if (!section.promised() || !reader.rowFailed()) return true;
    return refuseShortSection(reader, section, row);
}

// A row's type word, matched once. A word of 10 or more characters is never
// a type word, even when its first 9 characters hold one and a NUL. False at
// the end of the file.
template <typename Type>
bool readTypeWord(SceneReader& reader, char (&kind)[KIND_SIZE], Type& type,
                  Type (*typeOf)(const char*), const char* owner, int row) {
    const long size = reader.word(kind, Field{"the type word", owner, row});
    type = size >= KIND_SIZE ? Type::Unknown : typeOf(kind);
    return size >= 0;
}

}  // namespace

void readCamera(SceneReader& reader, Vetor& lookAt, Vetor& upVector, double& fieldOfView,
                long (&starts)[3]) {
    reader.beginRow();
    reader.vector(eye, XYZ, Field{"", "the eye point"});
    reader.endRow("the eye point");
    starts[0] = reader.offset();
    reader.beginRow();
    reader.vector(lookAt, XYZ, Field{"", "the look-at point"});
    reader.endRow("the look-at point");
    starts[1] = reader.offset();
    reader.beginRow();
    reader.vector(upVector, XYZ, Field{"", "the up vector"});
    reader.endRow("the up vector");
    starts[2] = reader.offset();
    reader.beginRow();
    reader.real(fieldOfView, Field{"the field of view"});
    reader.endRow("the field of view");
}

bool readLights(SceneReader& reader, std::vector<long>& starts) {
    Section section{"lights", CLASSIC_LIGHTS, growLights};
    if (!readCount(reader, section, lightCount, "the number of lights")) return false;
    const SceneReader::CountCheck fits{"lights", "light", 9, lightCount, section.countAt};
    for (int i = 0; i < lightCount; ++i) {
        if (!rowAhead(reader, section, i)) return false;
        reader.checkCountFits(fits, i, reader.offset());
        reader.beginRow();
        starts.push_back(reader.offset());
        reader.vector(lightPosition[i], XYZ, Field{"position", "light", i});
        reader.vector(lightColor[i], RGB, Field{"color", "light", i});
        reader.vector(lightAttenuation[i], XYZ, Field{"attenuation", "light", i});
        reader.endRow("light", i);
        if (!rowDone(reader, section, i)) return false;
    }
    reader.checkCountFits(fits, lightCount, reader.offset());
    return true;
}

static void readPigmentValues(SceneReader& reader, int i) {
    const char* kind = pigmentKind[i];
    switch (pigmentType[i]) {
    case PigmentType::Solid:
        reader.vector(pigmentColor1[i], RGB, Field{"color", "pigment", i, kind});
        break;
    case PigmentType::Checker:
        reader.vector(pigmentColor1[i], RGB, Field{"first color", "pigment", i, kind});
        reader.vector(pigmentColor2[i], RGB, Field{"second color", "pigment", i, kind});
        reader.real(pigmentSize[i], Field{"the cell size", "pigment", i, kind});
        break;
    case PigmentType::Gradient:
        reader.vector(pigmentOrigin[i], XYZ, Field{"origin", "pigment", i, kind});
        reader.vector(pigmentDirection[i], XYZ, Field{"direction", "pigment", i, kind});
        reader.vector(pigmentColor1[i], RGB, Field{"first color", "pigment", i, kind});
        reader.vector(pigmentColor2[i], RGB, Field{"second color", "pigment", i, kind});
        break;
    case PigmentType::Unknown:
        break;
    }
}

bool readPigments(SceneReader& reader) {
    Section section{"pigments", CLASSIC_PIGMENTS, growPigments};
    if (!readCount(reader, section, pigmentCount, "the number of pigments")) return false;
    rowLines.pigmentCountAt = section.countAt;
    for (int i = 0; i < pigmentCount; ++i) {
        if (!rowAhead(reader, section, i)) return false;
        reader.beginRow();
        const bool found =
            readTypeWord(reader, pigmentKind[i], pigmentType[i], pigmentTypeOf, "pigment", i);
        if (found && pigmentType[i] == PigmentType::Unknown)
            reader.unknownWord("pigment", i, "solid, checker or gradient");
        readPigmentValues(reader, i);
        reader.endRow("pigment", i);
        if (!rowDone(reader, section, i)) return false;
    }
    rowLines.pigmentsEnd = reader.offset();
    return true;
}

bool readFinishes(SceneReader& reader) {
    Section section{"finishes", CLASSIC_FINISHES, growFinishes};
    if (!readCount(reader, section, finishCount, "the number of finishes")) return false;
    const SceneReader::CountCheck fits{"finishes", "finish", 7, finishCount, section.countAt};
    for (int i = 0; i < finishCount; ++i) {
        if (!rowAhead(reader, section, i)) return false;
        reader.checkCountFits(fits, i, reader.offset());
        reader.beginRow();
        reader.real(finishAmbient[i], Field{"ambient", "finish", i});
        reader.real(finishDiffuse[i], Field{"diffuse", "finish", i});
        reader.real(finishSpecular[i], Field{"specular", "finish", i});
        reader.real(finishShininess[i], Field{"shininess", "finish", i});
        reader.real(finishReflection[i], Field{"reflection", "finish", i});
        reader.real(finishTransmission[i], Field{"transmission", "finish", i});
        reader.real(finishIor[i], Field{"ior", "finish", i});
        reader.endRow("finish", i);
        if (!rowDone(reader, section, i)) return false;
    }
    reader.checkCountFits(fits, finishCount, reader.offset());
    return true;
}

// A pigment or finish number of an object must name a row the file defines.
static bool readRowNumber(SceneReader& reader, int& number, int object, const char* table,
                          const char* tables, int count) {
    const long before = reader.offset();
    const std::string name = std::string("the ") + table + " number";
    reader.integer(number, Field{name.c_str(), "object", object});
    if (number >= 0 && number < count) return true;
    if (count <= 0)
        reader.error(before, "object %d names %s %d, but the file defines no %s", object, table,
                     number, tables);
    else
        reader.error(before, "object %d names %s %d, but the file defines %s 0 to %d only", object,
                     table, number, tables, count - 1);
    return false;
}

static void readObjectValues(SceneReader& reader, int i) {
    const char* kind = objectKind[i];
    switch (objectType[i]) {
    case ObjectType::Sphere:
        reader.vector(objectPointA[i], XYZ, Field{"centre", "object", i, kind});
        reader.real(objectRadius[i], Field{"the radius", "object", i, kind});
        break;
    case ObjectType::Triangle:
        reader.vector(objectPointA[i], XYZ, Field{"first vertex", "object", i, kind});
        reader.vector(objectPointB[i], XYZ, Field{"second vertex", "object", i, kind});
        reader.vector(objectPointC[i], XYZ, Field{"third vertex", "object", i, kind});
        break;
    case ObjectType::Disc:
        reader.vector(objectPointA[i], XYZ, Field{"centre", "object", i, kind});
        reader.real(objectRadius[i], Field{"the radius", "object", i, kind});
        reader.vector(objectPointB[i], XYZ, Field{"normal", "object", i, kind});
        break;
    case ObjectType::Mesh:
    case ObjectType::Smooth:  // packed rows: readMeshValues
    case ObjectType::Unknown:
        break;
    }
}

bool readObjects(SceneReader& reader, std::vector<long>& starts) {
    const long countAt = reader.offset();
    std::vector<MeshRow>().swap(meshes);  // a scene read again starts with none
    Section section{"objects", CLASSIC_OBJECTS, growObjects};
    if (!readCount(reader, section, objectCount, "the number of objects")) return false;
    rowLines.objectCountAt = section.countAt;
    starts.clear();
    for (int i = 0; i < objectCount; ++i) {
        if (!rowAhead(reader, section, i)) return false;
        reader.beginRow();
        starts.push_back(reader.offset());
        if (!readRowNumber(reader, objectPigment[i], i, "pigment", "pigments", pigmentCount) ||
            !readRowNumber(reader, objectFinish[i], i, "finish", "finishes", finishCount))
            return false;
        const bool found =
            readTypeWord(reader, objectKind[i], objectType[i], objectTypeOf, "object", i);
        if (found && objectType[i] == ObjectType::Unknown)
            reader.unknownWord("object", i, "sphere, triangle, disc, mesh or smooth");
        if (objectType[i] == ObjectType::Mesh || objectType[i] == ObjectType::Smooth) {
            if (!readMeshValues(reader, i)) return false;
            reader.endPackedRow("object", i);
            continue;
        }
        readObjectValues(reader, i);
        reader.endRow("object", i);
        if (!rowDone(reader, section, i)) return false;
    }
    rowLines.objectsEnd = reader.offset();
    checkObjects(reader, starts);
    checkMeshes(reader, starts);
    checkTrailingText(reader, countAt, objectCount);
    return true;
}

}  // namespace fotolume
