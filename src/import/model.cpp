// Reading a model through the Open Asset Import Library: every mesh of the
// file, its nodes' transforms applied, faces split into triangles.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>

#include "import/import.hpp"

namespace fotolume::import {

namespace {

Point toPoint(const aiVector3D& v) { return Point{v.x, v.y, v.z}; }

// Whether the three corners span a triangle: no two alike, not on a line.
bool spans(const Triangle& t) {
    const Point& a = t.corner[0];
    const Point& b = t.corner[1];
    const Point& c = t.corner[2];
    const double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    const double v[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
    return n[0] != 0 || n[1] != 0 || n[2] != 0;
}

}  // namespace

bool loadModel(const std::string& file, Model& model, std::string& error) {
    Assimp::Importer importer;
    // Points and lines are no surfaces: left out by the importer, counted.
    const aiScene* scene = importer.ReadFile(
        file, aiProcess_Triangulate | aiProcess_PreTransformVertices | aiProcess_SortByPType);
    if (scene == nullptr || scene->mRootNode == nullptr ||
        (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0) {
        error = importer.GetErrorString();
        if (error.empty()) error = "the file holds no model";
        return false;
    }
    for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
        aiColor3D color(0.8f, 0.8f, 0.8f);
        scene->mMaterials[m]->Get(AI_MATKEY_COLOR_DIFFUSE, color);
        model.materialColors.push_back(Point{color.r, color.g, color.b});
    }
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) {
                ++model.dropped;
                continue;
            }
            Triangle t;
            t.material = static_cast<int>(mesh->mMaterialIndex);
            for (int k = 0; k < 3; ++k) t.corner[k] = toPoint(mesh->mVertices[face.mIndices[k]]);
            if (spans(t))
                model.triangles.push_back(t);
            else
                ++model.dropped;
        }
    }
    if (model.triangles.empty()) {
        error = "the file holds no faces";
        return false;
    }
    return true;
}

}  // namespace fotolume::import
