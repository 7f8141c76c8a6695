// A placed model as object rows: one smooth or mesh row (a row a material
// with --per-material), each listing the corners its faces use once, or a
// triangle row a face.
#include <string>
#include <vector>

#include "import/import.hpp"

namespace fotolume::import {

namespace {

std::string triple(const Point& p) {
    return coordinate(p.x) + " " + coordinate(p.y) + " " + coordinate(p.z);
}

std::string triangleRows(const Model& model, int pigment, bool perMaterial, int finish) {
    std::string rows;
    for (const Face& f : model.faces) {
        rows += std::to_string(pigment + (perMaterial ? f.material : 0)) + " " +
                std::to_string(finish) + " triangle";
        for (int corner : f.corner) rows += " " + triple(model.points[corner]);
        rows += '\n';
    }
    return rows;
}

// The row of the faces of `material` (-1: all), their corners renumbered
// in the order of the model's.
std::string meshRow(const Model& model, bool smooth, int material, int pigment, int finish) {
    std::vector<int> number(model.points.size(), -1);
    long long faces = 0;
    for (const Face& f : model.faces)
        if (material < 0 || f.material == material) {
            ++faces;
            for (int corner : f.corner) number[corner] = 0;
        }
    if (faces == 0) return "";
    int used = 0;
    for (int& n : number)
        if (n == 0) n = used++;
    std::string row = std::to_string(pigment) + " " + std::to_string(finish) +
                      (smooth ? " smooth " : " mesh ") + std::to_string(used) + "\n";
    for (std::size_t p = 0; p < model.points.size(); ++p) {
        if (number[p] < 0) continue;
        row += triple(model.points[p]);
        if (smooth) row += "  " + triple(model.normals[p]);
        row += '\n';
    }
    row += std::to_string(faces) + "\n";
    for (const Face& f : model.faces)
        if (material < 0 || f.material == material)
            row += std::to_string(number[f.corner[0]]) + " " + std::to_string(number[f.corner[1]]) +
                   " " + std::to_string(number[f.corner[2]]) + "\n";
    return row;
}

}  // namespace

std::string objectRows(const Model& model, Form form, int pigment, bool perMaterial, int finish,
                       long long& rows) {
    if (form == Form::Triangles) {
        rows = static_cast<long long>(model.faces.size());
        return triangleRows(model, pigment, perMaterial, finish);
    }
    // Without normals (a model the library gave none) a smooth row is flat.
    const bool smooth = form == Form::Smooth && model.normals.size() == model.points.size();
    rows = 0;
    if (!perMaterial) {
        rows = 1;
        return meshRow(model, smooth, -1, pigment, finish);
    }
    std::string text;
    for (int m = 0; m < static_cast<int>(model.materialColors.size()); ++m) {
        const std::string row = meshRow(model, smooth, m, pigment + m, finish);
        rows += row.empty() ? 0 : 1;
        text += row;
    }
    return text;
}

}  // namespace fotolume::import
