// Reading a model through the Open Asset Import Library: every mesh of the
// file, its nodes' transforms applied, faces split into triangles, corners
// shared, each face's corners checked against the corners there are.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cmath>

#include "import/import.hpp"

namespace fotolume::import {

namespace {

Point toPoint(const aiVector3D& v) { return Point{v.x, v.y, v.z}; }

// The faces of one mesh of the file, its corners after those already read.
bool addMesh(const aiMesh& mesh, bool withNormals, Model& model, std::string& error) {
    const std::size_t base = model.points.size();
    if (base + mesh.mNumVertices > 2147483647u) {
        error = "the model has more corners than a row holds";
        return false;
    }
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        model.points.push_back(toPoint(mesh.mVertices[v]));
        if (withNormals) model.normals.push_back(toPoint(mesh.mNormals[v]));
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3) {
            ++model.dropped;
            continue;
        }
        Face t;
        t.material = static_cast<int>(mesh.mMaterialIndex);
        for (int k = 0; k < 3; ++k) {
            if (face.mIndices[k] >= mesh.mNumVertices) {
                error = "face " + std::to_string(f) + " names corner " +
                        std::to_string(face.mIndices[k]) + " of " +
                        std::to_string(mesh.mNumVertices);
                return false;
            }
            t.corner[k] = static_cast<int>(base + face.mIndices[k]);
        }
        if (spans(model, t))
            model.faces.push_back(t);
        else
            ++model.dropped;
    }
    return true;
}

}  // namespace

bool loadModel(const std::string& file, Form form, double creaseDegrees, Model& model,
               std::string& error) {
    Assimp::Importer importer;
    unsigned steps = aiProcess_Triangulate | aiProcess_PreTransformVertices |
                     aiProcess_SortByPType | aiProcess_JoinIdenticalVertices |
                     aiProcess_ValidateDataStructure;
    // Points and lines are no surfaces: left out by the importer, counted.
    const aiScene* scene = importer.ReadFile(file, steps);
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
    bool withNormals = form == Form::Smooth;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        withNormals = withNormals && scene->mMeshes[m]->HasNormals();
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        if (!addMesh(*scene->mMeshes[m], withNormals, model, error)) return false;
    if (model.faces.empty()) {
        error = "the file holds no faces";
        return false;
    }
    // The library's own smooth-normal step cannot part a corner that the
    // file shares between faces on both sides of a crease: made here.
    if (form == Form::Smooth && !withNormals) makeNormals(model, creaseDegrees);
    return true;
}

}  // namespace fotolume::import
