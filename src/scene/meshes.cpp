// Reading a mesh or smooth row: a vertex count and the vertices (each with
// its normal in a smooth row), a face count and the faces, packed into a
// MeshRow. Unlike the other rows, a mesh row that cannot be read whole is
// refused: a face can only be drawn from values that are all there.
#include <algorithm>
#include <climits>
#include <string>

#include "scene/tokens.hpp"

namespace fotolume {

namespace {

const char* const XYZ[3] = {"x", "y", "z"};
const char* const CORNERS[3] = {"first", "second", "third"};

// The least text a vertex or face takes ("0 0 0 "): room is made for no
// more of them than the rest of the file can hold, so a count of two
// billion over a few bytes costs no memory.
constexpr long LEAST_TRIPLE = 6;

struct MeshReading {
    SceneReader& reader;
    int row;
    const char* kind;
    MeshRow& mesh;
};

// A count ("%d"): false, said, when it is missing, negative or too large.
bool readMeshCount(MeshReading& m, int& count, const char* what) {
    const long before = m.reader.offset();
    long long value = 0;
    if (!m.reader.packedInteger(value)) {
        m.reader.error(before, "object %d (%s) needs a count of %s here, found %s", m.row, m.kind,
                       what, m.reader.tokenAt(before).c_str());
        return false;
    }
    if (value < 0 || value > INT_MAX) {
        m.reader.error(before, "object %d (%s): %lld %s is no count (0 to %d)", m.row, m.kind,
                       value, what, INT_MAX);
        return false;
    }
    count = static_cast<int>(value);
    return true;
}

// Room for `count` entries of `width` values, as far as the rest of the
// text can hold them.
template <typename T>
void reserveFor(std::vector<T>& values, int count, long leastText, long bytesLeft, int width) {
    const long long fits = bytesLeft / leastText + 1;
    values.reserve(static_cast<std::size_t>(std::min<long long>(count, fits)) * width);
}

bool readTriple(MeshReading& m, std::vector<double>& into, int vertex, int count,
                const char* name) {
    for (int k = 0; k < 3; ++k) {
        const long before = m.reader.offset();
        double value = 0.0;
        if (!m.reader.packedReal(value, Field{name, "object", m.row, m.kind, XYZ[k]})) {
            m.reader.error(before,
                           "object %d (%s) counts %d vertices, but vertex %d has no %s %s: "
                           "expected a real number, found %s",
                           m.row, m.kind, count, vertex, name, XYZ[k],
                           m.reader.tokenAt(before).c_str());
            return false;
        }
        into.push_back(value);
    }
    return true;
}

bool readVertices(MeshReading& m, int count) {
    const long width = m.mesh.smooth ? 2 * LEAST_TRIPLE : LEAST_TRIPLE;
    reserveFor(m.mesh.points, count, width, m.reader.bytesLeft(), 3);
    if (m.mesh.smooth) reserveFor(m.mesh.normals, count, width, m.reader.bytesLeft(), 3);
    for (int v = 0; v < count; ++v) {
        if (!readTriple(m, m.mesh.points, v, count, "point")) return false;
        if (m.mesh.smooth && !readTriple(m, m.mesh.normals, v, count, "normal")) return false;
    }
    return true;
}

bool readFaces(MeshReading& m, int count) {
    const long long vertices = m.mesh.vertexCount();
    reserveFor(m.mesh.faces, count, LEAST_TRIPLE, m.reader.bytesLeft(), 3);
    for (int f = 0; f < count; ++f)
        for (int k = 0; k < 3; ++k) {
            const long before = m.reader.offset();
            long long value = 0;
            if (!m.reader.packedInteger(value)) {
                m.reader.error(before,
                               "object %d (%s) counts %d faces, but face %d has no %s corner: "
                               "expected a vertex number, found %s",
                               m.row, m.kind, count, f, CORNERS[k],
                               m.reader.tokenAt(before).c_str());
                return false;
            }
            if (value < 0 || value >= vertices) {
                if (vertices == 0)
                    m.reader.error(before, "object %d (%s): face %d names vertex %lld, but the row "
                                           "has no vertices", m.row, m.kind, f, value);
                else
                    m.reader.error(before, "object %d (%s): face %d names vertex %lld, but the row "
                                           "has vertices 0 to %lld only",
                                   m.row, m.kind, f, value, vertices - 1);
                return false;
            }
            m.mesh.faces.push_back(static_cast<int>(value));
        }
    return true;
}

}  // namespace

bool readMeshValues(SceneReader& reader, int row) {
    meshes.emplace_back();
    MeshRow& mesh = meshes.back();
    mesh.row = row;
    mesh.smooth = objectType[row] == ObjectType::Smooth;
    MeshReading m{reader, row, objectKind[row], mesh};
    int vertices = 0, faces = 0;
    if (!readMeshCount(m, vertices, "vertices") || !readVertices(m, vertices) ||
        !readMeshCount(m, faces, "faces") || !readFaces(m, faces))
        return false;
    mesh.points.shrink_to_fit();
    mesh.normals.shrink_to_fit();
    mesh.faces.shrink_to_fit();
    return true;
}

}  // namespace fotolume
