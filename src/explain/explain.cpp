#include "explain/explain.hpp"

#include <cmath>

#include "explain/tree.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace explain {

std::string number(double value) { return exactDecimal(value); }

const char* kindName(RayKind kind) {
    switch (kind) {
    case RayKind::Primary:
        return "primary";
    case RayKind::Reflected:
        return "reflected";
    case RayKind::Refracted:
        return "refracted";
    case RayKind::TotalInternal:
        return "total internal reflection";
    }
    return "?";
}

const char* objectTypeName(int object) {
    switch (objectType[object]) {
    case ObjectType::Sphere:
        return "sphere";
    case ObjectType::Triangle:
        return "triangle";
    case ObjectType::Disc:
        return "disc";
    case ObjectType::Mesh:
        return "mesh";
    case ObjectType::Smooth:
        return "smooth";
    case ObjectType::Unknown:
        break;
    }
    return "unknown";
}

void TreeRecorder::ray(RayKind kind, int depth, const Vec3& origin, const Vec3& direction,
                       int inside) {
    const int index = static_cast<int>(e_.nodes.size());
    RayNode node;
    node.kind = kind;
    node.depth = depth;
    node.origin = origin;
    node.direction = direction;
    node.inside = inside;
    e_.nodes.push_back(node);
    if (open_.empty())
        e_.rays.push_back(PrimaryRay{cellJ_, cellI_, index, Vec3{}});
    else
        current().children.push_back(index);
    open_.push_back(index);
}

void TreeRecorder::close(const Vec3& color) {
    current().color = color;
    open_.pop_back();
}

void TreeRecorder::missed(const Vec3& background) { close(background); }

void TreeRecorder::hit(int object, int face, double t, const Vec3& point, const Vec3& normal) {
    RayNode& node = current();
    node.hit = true;
    node.object = object;
    node.face = face;
    node.t = t;
    node.point = point;
    node.normal = normal;
}

void TreeRecorder::depthLimit() {
    current().depthLimit = true;
    close(Vec3{{0.0, 0.0, 0.0}});
}

void TreeRecorder::surface(const Vec3& pigment, const Vec3& ambient) {
    current().shaded = true;
    current().pigment = pigment;
    current().ambient = ambient;
}

void TreeRecorder::light(const LightPart& part) { current().lights.push_back(part); }

void TreeRecorder::weights(double reflection, double transmission) {
    current().reflection = reflection;
    current().transmission = transmission;
}

void TreeRecorder::returned(const Vec3& color) { close(color); }

void TreeRecorder::neighbours(const unsigned char one[3], long long row, long long col,
                              const unsigned char other[3], double limit) {
    e_.decided = true;
    for (int k = 0; k < 3; ++k) {
        e_.one[k] = one[k];
        e_.neighbour[k] = other[k];
    }
    e_.neighbourRow = row;
    e_.neighbourCol = col;
    e_.limit = limit;
}

void TreeRecorder::gridRay(int j, int i) {
    cellJ_ = j;
    cellI_ = i;
}

void TreeRecorder::corners(bool even, double limit) {
    e_.cornersTested = true;
    e_.even = even;
    e_.cornerLimit = limit;
}

void TreeRecorder::mean(const double sum[3], int rays) {
    e_.averaged = true;
    for (int k = 0; k < 3; ++k) e_.sum[k] = sum[k];
    e_.count = rays;
}

void TreeRecorder::clamped(const Vec3& color) { e_.rays.back().clamped = color; }

}  // namespace explain

void explainPixelTo(std::FILE* out, const Frame& frame, long long col, long long row,
                    ExplainFormat format, unsigned char bytes[3]) {
    explain::Explanation e;
    e.col = col;
    e.row = row;
    e.width = imageWidth;
    e.height = imageHeight;
    e.samples = frame.samples;
    e.threshold = frame.threshold;
    explain::TreeRecorder recorder(e);
    prepareSearch();
    const PrimaryRays rays;
    explainPixel(rays, frame, row, col, recorder, e.bytes);
    for (int k = 0; k < 3; ++k) bytes[k] = e.bytes[k];
    if (format == ExplainFormat::Json)
        explain::printJson(out, e);
    else
        explain::printText(out, e);
}

}  // namespace fotolume
