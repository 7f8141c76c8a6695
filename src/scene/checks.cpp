// Mistakes that reading alone lets pass in silence: text past the last row
// the counts ask for, and objects that can never be seen or are drawn
// smaller than written. Each is said at its line; nothing read changes.
#include <algorithm>
#include <cmath>
#include <string>

#include "geometry/geometry.hpp"
#include "scene/tokens.hpp"

namespace fotolume {

namespace {

// Below this share of its radius a sphere is said to be drawn visibly
// smaller: the drawn radius is sqrt(r^2 - MIN_DISCRIMINANT).
constexpr double VISIBLE_SHARE = 0.9;

// The least radius whose square (in doubles) reaches MIN_DISCRIMINANT.
double leastRadius() {
    double r = std::sqrt(MIN_DISCRIMINANT);
    while (r * r >= MIN_DISCRIMINANT) r = std::nextafter(r, 0.0);
    while (r * r < MIN_DISCRIMINANT) r = std::nextafter(r, 1.0);
    return r;
}

void checkSphere(SceneReader& reader, int i, long start) {
    const double r = objectRadius[i];
    if (!(r * r >= MIN_DISCRIMINANT)) {
        // Both figures in full: rounded, they could contradict the claim.
        reader.warn(start,
                    "object %d (sphere) can never be hit: a radius of %s is below %s, the "
                    "least a ray can meet (its square must be at least %g)",
                    i, exactDecimal(r).c_str(), exactDecimal(leastRadius()).c_str(),
                    MIN_DISCRIMINANT);
        return;
    }
    const double drawn = std::sqrt(r * r - MIN_DISCRIMINANT);
    if (drawn < VISIBLE_SHARE * std::fabs(r))
        reader.note(start,
                    "object %d (sphere) of radius %g is drawn with radius %.3g, %.0f%% of it "
                    "(rays must cross a sphere by more than a small margin)",
                    i, r, drawn, 100.0 * drawn / std::fabs(r));
}

void checkTriangle(SceneReader& reader, int i, long start) {
    const Vetor& a = objectPointA[i];
    const Vetor& b = objectPointB[i];
    const Vetor& c = objectPointC[i];
    const Vetor normal = cross(subtract(b, a), subtract(c, a));
    if (normal[0] != 0.0 || normal[1] != 0.0 || normal[2] != 0.0) return;
    const bool twoEqual = (a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) ||
                          (a[0] == c[0] && a[1] == c[1] && a[2] == c[2]) ||
                          (b[0] == c[0] && b[1] == c[1] && b[2] == c[2]);
    reader.warn(
        start, "object %d (triangle) can never be hit: %s", i,
        twoEqual ? "two of its corners are the same point" : "its three corners lie on one line");
}

void checkDisc(SceneReader& reader, int i, long start) {
    const Vetor& n = objectPointB[i];
    if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0)
        reader.warn(start, "object %d (disc) can never be hit: its normal is (0, 0, 0)", i);
    else if (!(objectRadius[i] > 0.0))
        reader.warn(start, "object %d (disc) can never be hit: its radius %g is not above 0", i,
                    objectRadius[i]);
}

bool finite(const Vetor& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

void checkObjects(SceneReader& reader, const std::vector<long>& starts) {
    // Values that failed to read are zeros: what follows from them is no
    // news next to the diagnostic that pointed at the cause.
    if (reader.wentWrong()) return;
    for (int i = 0; i < objectCount && i < static_cast<int>(starts.size()); ++i) {
        // A value that is not finite was said where it was read.
        if (!finite(objectPointA[i]) || !finite(objectPointB[i]) || !finite(objectPointC[i]) ||
            !std::isfinite(objectRadius[i]))
            continue;
        switch (objectType[i]) {
        case ObjectType::Sphere:
            checkSphere(reader, i, starts[i]);
            break;
        case ObjectType::Triangle:
            checkTriangle(reader, i, starts[i]);
            break;
        case ObjectType::Disc:
            checkDisc(reader, i, starts[i]);
            break;
        case ObjectType::Mesh:  // checkMeshes
        case ObjectType::Smooth:
        case ObjectType::Unknown:
            break;
        }
    }
}

namespace {

// The shadow test lets light through an object whose finish transmits more
// than this.
constexpr double TRANSPARENT_ABOVE = 0.001;

// Whether the point lies strictly inside sphere `i`, one that lets no
// light through.
bool insideOpaqueSphere(const Vetor& point, int i) {
    if (objectType[i] != ObjectType::Sphere ||
        finishTransmission[objectFinish[i]] > TRANSPARENT_ABOVE)
        return false;
    return length(subtract(point, objectPointA[i])) < std::fabs(objectRadius[i]);
}

// An opaque sphere around the eye and every light: the shadow test looks
// along the whole half-line through a light, so it shadows every point.
int enclosingBackdrop() {
    if (lightCount < 2) return -1;
    for (int i = 0; i < objectCount && i < static_cast<int>(objectType.size()); ++i) {
        if (!insideOpaqueSphere(eye, i)) continue;
        bool all = true;
        for (int l = 1; l < lightCount && all; ++l) all = insideOpaqueSphere(lightPosition[l], i);
        if (all) return i;
    }
    return -1;
}

}  // namespace

void checkLights(SceneReader& reader, const std::vector<long>& starts,
                 const std::vector<long>& objectStarts) {
    if (reader.wentWrong()) return;
    const int lights = std::min(lightCount, static_cast<int>(starts.size()));
    for (int l = 1; l < lights; ++l) {
        const Vetor& a = lightAttenuation[l];
        if (a[0] == 0.0 && a[1] == 0.0 && a[2] == 0.0)
            reader.warn(starts[l],
                        "light %d has attenuation 0 0 0: 1 / (a + b d + c d^2) is infinite at "
                        "every distance, and every point it reaches is blown out (1 0 0 is no "
                        "fall-off)",
                        l);
    }
    const int backdrop = lights > 1 ? enclosingBackdrop() : -1;
    if (backdrop >= 0) {
        reader.warn(static_cast<std::size_t>(backdrop) < objectStarts.size()
                        ? objectStarts[backdrop]
                        : starts[1],
                    "object %d (sphere) encloses the eye and every light: the shadow test looks "
                    "along the whole half-line through a light, so the sphere shadows every point "
                    "and the image is dark; for a backdrop give --background R,G,B instead",
                    backdrop);
        return;
    }
    // A light inside an opaque sphere lights nothing outside it. (Spheres
    // times lights: bounded, for scenes of millions of objects.)
    const long long pairs = static_cast<long long>(lights) * objectCount;
    for (int l = 1; l < lights && pairs <= 50000000; ++l)
        for (int i = 0; i < objectCount && i < static_cast<int>(objectType.size()); ++i)
            if (insideOpaqueSphere(lightPosition[l], i)) {
                reader.warn(starts[l],
                            "light %d lies inside object %d (sphere), which lets no light "
                            "through: it lights nothing outside that sphere",
                            l, i);
                break;
            }
}

void checkMeshes(SceneReader& reader, const std::vector<long>& starts) {
    for (const MeshRow& mesh : meshes) {
        int degenerate = 0;
        for (std::size_t f = 0; f < mesh.faces.size(); f += 3) {
            const double* a = mesh.point(mesh.faces[f]);
            const double* b = mesh.point(mesh.faces[f + 1]);
            const double* c = mesh.point(mesh.faces[f + 2]);
            const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            degenerate += e1[1] * e2[2] - e1[2] * e2[1] == 0.0 &&
                          e1[2] * e2[0] - e1[0] * e2[2] == 0.0 &&
                          e1[0] * e2[1] - e1[1] * e2[0] == 0.0;
        }
        const std::size_t row = static_cast<std::size_t>(mesh.row);
        if (degenerate > 0 && row < starts.size() && !reader.wentWrong())
            reader.warn(starts[row],
                        "object %d (%s): %d of its %lld faces can never be hit (two corners "
                        "are the same point or all three lie on one line)",
                        mesh.row, objectKind[row].text, degenerate, mesh.faceCount());
    }
}

void checkTrailingText(SceneReader& reader, long countAt, int count) {
    const long end = reader.offset();
    if (reader.wentWrong() || !reader.moreText(end)) return;
    reader.warn(end,
                "text after the last row the counts ask for is not read: does a count miss a "
                "row? (the number of objects, %d, is on line %ld)",
                count, reader.lineOf(countAt));
}

}  // namespace fotolume
