// The search's side of mesh and smooth rows: a hierarchy over each mesh's
// faces that keeps nothing of a face but its number (the corners are read
// from the mesh itself), with boxes in floats rounded outward. Internal to
// the geometry folder.
//
// Why it finds what the table-order scan finds: when the face test accepts
// a ray, the computed signs are exact for corners moved by a few ulps of
// their distance from the origin, so the ray's line passes that close to
// the face, well inside the face's box widened by accel.slack; and the
// computed distance is a weighted mean, with weights of one sign, of the
// corners' own distances along the ray's dominant axis, so it lies within
// the box's interval on that axis. A box is therefore skipped only when the
// line misses it, or when its interval on the dominant axis lies wholly
// before the least hit distance or beyond the best hit so far: never a box
// that holds a face the scan would take. (The box's entry on all three axes
// would cull more, but a face seen edge-on can be given a distance where
// the ray is outside its box.)
#pragma once

#include <vector>

#include "geometry/mesh_tests.hpp"

namespace fotolume::detail {

// Up to four children; count > 0: a leaf of that many entries of `order`
// from `first`; 0: an inner node at index `first`; -1: no child.
struct MeshNode {
    float lo[3][4];
    float hi[3][4];
    int first[4];
    int count[4];
};

struct MeshSearch {
    int mesh = -1;      // index in `meshes`
    int row = -1;       // its object row
    bool scan = false;  // coordinates too large or not finite: every face, in order
    std::vector<MeshNode> nodes;
    std::vector<int> order;  // face numbers, a leaf's side by side
    int depth = 0;           // levels of inner nodes
};

// The boxes of every mesh (for the scene's extent): grows lo and hi.
// False when a coordinate is not finite or past `huge`.
bool meshBounds(const MeshRow& mesh, double huge, double lo[3], double hi[3]);

// Builds the hierarchy of `meshes[index]`, boxes widened by `margin`.
void buildMeshSearch(MeshSearch& search, int index, double margin);

// Folds the mesh faces the ray meets into the best hit so far: of equal
// distances the lower row, and in one row the lower face, wins.
void searchMeshes(const std::vector<MeshSearch>& all, const double o[3], const double d[3],
                  double& best, int& bestRow, int& bestFace);

inline void considerFace(double t, int row, int face, double& best, int& bestRow, int& bestFace) {
    if (bestRow < 0 || t < best ||
        (t == best && (row < bestRow || (row == bestRow && face < bestFace)))) {
        best = t;
        bestRow = row;
        bestFace = face;
    }
}

}  // namespace fotolume::detail
