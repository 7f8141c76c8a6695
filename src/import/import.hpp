// The model importer behind fotolume-import: a model file (OBJ, PLY, STL and
// the other formats the Open Asset Import Library reads) turned into object
// rows of a scene, placed where the user asks.
#pragma once

#include <string>
#include <vector>

namespace fotolume::import {

struct Point {
    double x = 0, y = 0, z = 0;
};

struct Triangle {
    Point corner[3];
    int material = 0;
};

struct Model {
    std::vector<Triangle> triangles;
    std::vector<Point> materialColors;  // diffuse colour of each material
    long dropped = 0;                   // faces without three distinct, non-collinear corners
};

// Reads the model; on failure returns false with the reason in `error`.
// Faces of more than three corners come back as triangles.
bool loadModel(const std::string& file, Model& model, std::string& error);

struct Placement {
    char up = 'y';  // the file's up axis: x, y or z
    bool rotate = false;
    double axis[3] = {0, 1, 0}, degrees = 0;  // a rotation about an axis through the origin
    bool fit = false;
    double centre[3] = {0, 0, 0}, size = 1;  // fit into a cube: centre and edge
    double scale = 1;
    double translate[3] = {0, 0, 0};
};

// Moves the model's corners: the up axis turned to y, the rotation, then
// either the fit into the cube or the scale and the translation.
void place(Model& model, const Placement& placement);

// The shortest decimal that reads back as exactly the value.
std::string number(double value);

// The model's object rows, one a line: `pigment` (plus the material's index
// when `perMaterial`) and `finish` for each triangle.
std::string objectRows(const Model& model, int pigment, bool perMaterial, int finish);

// The text of the scene file `scene` with the model's rows added after its
// objects and its object count raised (with `perMaterial`, a solid pigment
// of each material's colour added after its pigments too, and the rows
// pointing at them). The scene must read without a warning; otherwise
// says why on standard error and returns 1.
int addToScene(const std::string& scene, const Model& model, int pigment, bool perMaterial,
               int finish, std::string& out);

// The whole command: returns the exit status.
int runImport(int argc, char** argv);

}  // namespace fotolume::import
