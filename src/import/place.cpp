// Placing a model: its up axis turned to y, a rotation, a fit into a cube
// or a scale and translation, and a floor to stand on; and its rows as text.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "import/import.hpp"
#include "scene/scene.hpp"

namespace fotolume::import {

namespace {

template <class Change>
void forEachPoint(std::vector<Point>& points, Change&& change) {
    for (Point& p : points) change(p);
}

// Rodrigues' formula: p turned by `degrees` about the axis, which is
// scaled to unit length by its largest component first, so that neither
// tiny nor huge axes overflow.
Point turned(const Point& p, const double axis[3], double degrees) {
    const double big = std::max({std::fabs(axis[0]), std::fabs(axis[1]), std::fabs(axis[2])});
    const double a0 = axis[0] / big, a1 = axis[1] / big, a2 = axis[2] / big;
    const double length = std::sqrt(a0 * a0 + a1 * a1 + a2 * a2);
    const double k[3] = {a0 / length, a1 / length, a2 / length};
    const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
    const double dot = k[0] * p.x + k[1] * p.y + k[2] * p.z;
    const double cross[3] = {k[1] * p.z - k[2] * p.y, k[2] * p.x - k[0] * p.z,
                             k[0] * p.y - k[1] * p.x};
    return Point{p.x * c + cross[0] * s + k[0] * dot * (1 - c),
                 p.y * c + cross[1] * s + k[1] * dot * (1 - c),
                 p.z * c + cross[2] * s + k[2] * dot * (1 - c)};
}

// The turns that move points and normals alike.
void turn(Model& model, const Placement& placement) {
    for (std::vector<Point>* set : {&model.points, &model.normals}) {
        // A z-up file: z becomes y (and y becomes -z, keeping the handedness);
        // an x-up one: x becomes y.
        if (placement.up == 'z') forEachPoint(*set, [](Point& p) { p = Point{p.x, p.z, -p.y}; });
        if (placement.up == 'x') forEachPoint(*set, [](Point& p) { p = Point{-p.y, p.x, p.z}; });
        if (placement.rotate)
            forEachPoint(*set, [&](Point& p) { p = turned(p, placement.axis, placement.degrees); });
    }
}

bool finite(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

void bounds(const Model& model, double lo[3], double hi[3]) {
    for (int k = 0; k < 3; ++k) {
        lo[k] = INFINITY;
        hi[k] = -INFINITY;
    }
    for (const Point& p : model.points) {
        const double v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], v[k]);
            hi[k] = std::max(hi[k], v[k]);
        }
    }
}

namespace {

// The corners as the rows will hold them (single precision, the model
// library's own), and the faces that still span an area there: a placement
// can squeeze a face to nothing, or throw a corner beyond what a row holds.
bool keepsItsFaces(Model& model, std::string& error) {
    for (Point& p : model.points) {
        const float single[3] = {static_cast<float>(p.x), static_cast<float>(p.y),
                                 static_cast<float>(p.z)};
        if (!std::isfinite(single[0]) || !std::isfinite(single[1]) || !std::isfinite(single[2])) {
            error =
                "placed as asked, a corner lies beyond the largest coordinate a row holds "
                "(about 3.4e38)";
            return false;
        }
        p = Point{single[0], single[1], single[2]};
    }
    const std::size_t before = model.faces.size();
    model.faces.erase(std::remove_if(model.faces.begin(), model.faces.end(),
                                     [&](const Face& f) { return !spans(model, f); }),
                      model.faces.end());
    model.dropped += static_cast<long>(before - model.faces.size());
    if (!model.faces.empty()) return true;
    error = "placed as asked, no face spans an area any more (is the scale too small?)";
    return false;
}

}  // namespace

bool place(Model& model, const Placement& placement, std::string& error) {
    for (const Point& p : model.points)
        if (!finite(p)) {
            error = "the model has a corner that is not a finite number";
            return false;
        }
    turn(model, placement);
    double scale = placement.scale;
    double shift[3] = {placement.translate[0], placement.translate[1], placement.translate[2]};
    double lo[3], hi[3];
    if (placement.fit) {
        bounds(model, lo, hi);
        const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
        scale = extent > 0 ? placement.size / extent : 1;
        for (int k = 0; k < 3; ++k) shift[k] = placement.centre[k] - scale * (lo[k] + hi[k]) / 2;
    }
    forEachPoint(model.points, [&](Point& p) {
        p = Point{scale * p.x + shift[0], scale * p.y + shift[1], scale * p.z + shift[2]};
    });
    if (placement.floor) {
        bounds(model, lo, hi);
        const double up = placement.floorY - lo[1];
        forEachPoint(model.points, [&](Point& p) { p.y += up; });
    }
    // Normals: turned above, made unit (by their largest component first,
    // so none overflows); a mirror (a negative scale) turns them round.
    forEachPoint(model.normals, [&](Point& n) {
        const double big = std::max({std::fabs(n.x), std::fabs(n.y), std::fabs(n.z)});
        if (!(big > 0)) return;
        const Point m{n.x / big, n.y / big, n.z / big};
        const double r = (scale < 0 ? -1 : 1) / std::sqrt(m.x * m.x + m.y * m.y + m.z * m.z);
        n = Point{r * m.x, r * m.y, r * m.z};
    });
    for (const std::vector<Point>* set : {&model.points, &model.normals})
        for (const Point& p : *set)
            if (!finite(p)) {
                error = "placed as asked, the model has a value that is not a finite number";
                return false;
            }
    return keepsItsFaces(model, error);
}

std::string number(double value) { return exactDecimal(value); }

std::string coordinate(double value) {
    const float single = static_cast<float>(value);
    if (!std::isfinite(single)) return exactDecimal(value);
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, single);
    return std::string(text, end.ptr);
}

}  // namespace fotolume::import
