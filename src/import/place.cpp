// Placing a model: its up axis turned to y, a rotation, and a fit into a
// cube or a scale and translation; and its rows as text.
#include <algorithm>
#include <cmath>
#include <string>

#include "import/import.hpp"
#include "scene/scene.hpp"

namespace fotolume::import {

namespace {

template <class Change>
void forEachCorner(Model& model, Change&& change) {
    for (Triangle& t : model.triangles)
        for (Point& p : t.corner) change(p);
}

// Rodrigues' formula: p turned by `degrees` about the unit axis.
Point turned(const Point& p, const double axis[3], double degrees) {
    const double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    const double k[3] = {axis[0] / length, axis[1] / length, axis[2] / length};
    const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
    const double dot = k[0] * p.x + k[1] * p.y + k[2] * p.z;
    const double cross[3] = {k[1] * p.z - k[2] * p.y, k[2] * p.x - k[0] * p.z,
                             k[0] * p.y - k[1] * p.x};
    return Point{p.x * c + cross[0] * s + k[0] * dot * (1 - c),
                 p.y * c + cross[1] * s + k[1] * dot * (1 - c),
                 p.z * c + cross[2] * s + k[2] * dot * (1 - c)};
}

}  // namespace

void place(Model& model, const Placement& placement) {
    // A z-up file: z becomes y (and y becomes -z, keeping the handedness);
    // an x-up one: x becomes y.
    if (placement.up == 'z') forEachCorner(model, [](Point& p) { p = Point{p.x, p.z, -p.y}; });
    if (placement.up == 'x') forEachCorner(model, [](Point& p) { p = Point{-p.y, p.x, p.z}; });
    if (placement.rotate)
        forEachCorner(model, [&](Point& p) { p = turned(p, placement.axis, placement.degrees); });
    double scale = placement.scale;
    double shift[3] = {placement.translate[0], placement.translate[1], placement.translate[2]};
    if (placement.fit) {
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        forEachCorner(model, [&](Point& p) {
            const double v[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], v[k]);
                hi[k] = std::max(hi[k], v[k]);
            }
        });
        const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
        scale = extent > 0 ? placement.size / extent : 1;
        for (int k = 0; k < 3; ++k) shift[k] = placement.centre[k] - scale * (lo[k] + hi[k]) / 2;
    }
    forEachCorner(model, [&](Point& p) {
        p = Point{scale * p.x + shift[0], scale * p.y + shift[1], scale * p.z + shift[2]};
    });
}

std::string number(double value) { return exactDecimal(value); }

std::string objectRows(const Model& model, int pigment, bool perMaterial, int finish) {
    std::string rows;
    for (const Triangle& t : model.triangles) {
        rows += std::to_string(pigment + (perMaterial ? t.material : 0)) + " " +
                std::to_string(finish) + " triangle";
        for (const Point& p : t.corner)
            rows += " " + number(p.x) + " " + number(p.y) + " " + number(p.z);
        rows += '\n';
    }
    return rows;
}

}  // namespace fotolume::import
