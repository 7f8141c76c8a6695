// Normals for a model that has none: at each corner of each face, the sum
// of the area-weighted normals of the faces around that corner that meet
// this face's at no more than the crease angle. Corners that come out with
// the same point and the same normal are shared again, so a smooth surface
// keeps one corner a point and a sharp edge gets two.
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "import/import.hpp"

namespace fotolume::import {

bool spans(const Model& model, const Face& face) {
    const Point n = faceNormal(model, face);
    return n.x != 0 || n.y != 0 || n.z != 0;
}

Point faceNormal(const Model& model, const Face& f) {
    const Point& a = model.points[f.corner[0]];
    const Point& b = model.points[f.corner[1]];
    const Point& c = model.points[f.corner[2]];
    const double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    const double v[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    return Point{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

namespace {

double cosine(const Point& a, const Point& b) {
    const double la = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    const double lb = std::sqrt(b.x * b.x + b.y * b.y + b.z * b.z);
    return (a.x * b.x + a.y * b.y + a.z * b.z) / (la * lb);
}

struct CornerKey {
    int point;
    double n[3];
    bool operator==(const CornerKey& o) const {
        return point == o.point && std::memcmp(n, o.n, sizeof n) == 0;
    }
};
struct CornerHash {
    std::size_t operator()(const CornerKey& k) const {
        std::size_t h = std::hash<int>()(k.point);
        for (double x : k.n) h = h * 1000003u ^ std::hash<double>()(x);
        return h;
    }
};

}  // namespace

void makeNormals(Model& model, double creaseDegrees) {
    const std::size_t faces = model.faces.size();
    std::vector<Point> area(faces);
    for (std::size_t f = 0; f < faces; ++f) area[f] = faceNormal(model, model.faces[f]);
    // The faces around each point, packed: around[start[p] .. start[p + 1]).
    std::vector<int> start(model.points.size() + 1, 0), around(3 * faces);
    for (const Face& f : model.faces)
        for (int p : f.corner) ++start[p + 1];
    for (std::size_t p = 0; p < model.points.size(); ++p) start[p + 1] += start[p];
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (std::size_t f = 0; f < faces; ++f)
        for (int p : model.faces[f].corner) around[fill[p]++] = static_cast<int>(f);

    const double least = std::cos(creaseDegrees * 3.14159265358979323846 / 180);
    std::vector<Point> points, normals;
    std::unordered_map<CornerKey, int, CornerHash> shared;
    for (std::size_t f = 0; f < faces; ++f)
        for (int& corner : model.faces[f].corner) {
            Point sum{0, 0, 0};
            for (int i = start[corner]; i < start[corner + 1]; ++i) {
                const Point& n = area[around[i]];
                if (static_cast<std::size_t>(around[i]) == f || cosine(area[f], n) >= least)
                    sum = Point{sum.x + n.x, sum.y + n.y, sum.z + n.z};
            }
            const CornerKey key{corner, {sum.x, sum.y, sum.z}};
            const auto found = shared.emplace(key, static_cast<int>(points.size()));
            if (found.second) {
                points.push_back(model.points[corner]);
                normals.push_back(sum);
            }
            corner = found.first->second;
        }
    model.points.swap(points);
    model.normals.swap(normals);
}

}  // namespace fotolume::import
