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

struct Face {
    int corner[3];  // numbers of `points`
    int material = 0;
};

// The model as shared corners and faces: a corner that several faces meet
// at is one point, so the rows written from it leave no gap between faces.
struct Model {
    std::vector<Point> points;
    std::vector<Point> normals;  // one a point, or none
    std::vector<Face> faces;
    std::vector<Point> materialColors;  // diffuse colour of each material
    long dropped = 0;                   // faces without three distinct, non-collinear corners
};

// What rows a model becomes: one smooth row (a normal a corner), one mesh
// row (flat faces), or a triangle row a face.
enum class Form { Smooth, Flat, Triangles };

// Reads the model; on failure returns false with the reason in `error`.
// Faces of more than three corners come back as triangles. For the smooth
// form, corners get the file's normals or, where it has none, normals made
// from the faces around them; an edge whose faces meet at more than
// `creaseDegrees` stays sharp.
bool loadModel(const std::string& file, Form form, double creaseDegrees, Model& model,
               std::string& error);

// The face's normal, as long as twice its area (zero for a face that spans
// nothing).
Point faceNormal(const Model& model, const Face& face);
// Whether the three corners span a triangle: no two alike, not on a line.
bool spans(const Model& model, const Face& face);

// Normals for every face's corners (see normals.cpp): corners parted where
// faces meet at more than `creaseDegrees`.
void makeNormals(Model& model, double creaseDegrees);

struct Placement {
    char up = 'y';  // the file's up axis: x, y or z
    bool rotate = false;
    double axis[3] = {0, 1, 0}, degrees = 0;  // a rotation about an axis through the origin
    bool fit = false;
    double centre[3] = {0, 0, 0}, size = 1;  // fit into a cube: centre and edge
    double scale = 1;
    double translate[3] = {0, 0, 0};
    bool floor = false;
    double floorY = 0;  // with floor: the lowest point is moved to this height
};

// Moves the model's corners: the up axis turned to y, the rotation, then
// either the fit into the cube or the scale and the translation, then onto
// the floor. Normals turn with the model (and flip where a negative scale
// mirrors it). False, with the reason, when a placed value is not finite.
bool place(Model& model, const Placement& placement, std::string& error);

// The placed model's bounds, for the report.
void bounds(const Model& model, double lo[3], double hi[3]);

// The shortest decimal that reads back as exactly the value.
std::string number(double value);
// The shortest decimal of the value at the model library's precision
// (single): its digits past that are none of the model's.
std::string coordinate(double value);

// The model's object rows: `pigment` (plus the material's index when
// `perMaterial`, a row a material then) and `finish` for each. `rows` is
// set to how many rows there are.
std::string objectRows(const Model& model, Form form, int pigment, bool perMaterial, int finish,
                       long long& rows);

// The text of the scene file `scene` with the model's rows added after its
// objects, under a comment line that names `label` and the face count, and
// objects and its object count raised (with `perMaterial`, a solid pigment
// of each material's colour added after its pigments too, and the rows
// pointing at them). The scene must read without a warning; otherwise
// says why on standard error and returns 1.
int addToScene(const std::string& scene, const std::string& label, const Model& model, Form form,
               int pigment, bool perMaterial, int finish, std::string& out);

// The whole command: returns the exit status. `outputClosed`: standard
// output was closed at start, so only --into has somewhere to write.
int runImport(int argc, char** argv, bool outputClosed = false);

}  // namespace fotolume::import
