// The explanation of a pixel as a tree, built from what the render tells
// its recorder, and its two printed forms. Internal to the explain folder.
#pragma once

#include <string>
#include <vector>

#include "image/image.hpp"

namespace fotolume::explain {

struct RayNode {
    RayKind kind = RayKind::Primary;
    int depth = 0;
    Vec3 origin{}, direction{};
    int inside = 0;
    bool hit = false;  // else the background was returned, or nothing yet
    int object = -1;
    int face = -1;  // of a mesh row's faces
    double t = 0.0;
    Vec3 point{}, normal{};
    bool depthLimit = false;
    bool shaded = false;  // pigment and ambient known
    Vec3 pigment{}, ambient{};
    std::vector<LightPart> lights;
    double reflection = 0.0, transmission = 0.0;
    std::vector<int> children;  // indices into Explanation::nodes
    Vec3 color{};
};

// A primary ray: the pixel's own (cell -1, -1) or a grid cell's.
struct PrimaryRay {
    int j = -1, i = -1;
    int root = -1;
    Vec3 clamped{};
};

struct Explanation {
    long long col = 0, row = 0;
    int width = 0, height = 0;
    int samples = 1;
    double threshold = 0.0;
    std::vector<RayNode> nodes;
    std::vector<PrimaryRay> rays;
    bool decided = false;  // the adaptive decision was made (samples > 1, threshold > 0)
    unsigned char one[3] = {0, 0, 0};
    long long neighbourRow = -1, neighbourCol = -1;
    unsigned char neighbour[3] = {0, 0, 0};
    double limit = 0.0;
    bool cornersTested = false, even = false;
    double cornerLimit = 0.0;
    bool averaged = false;
    double sum[3] = {0.0, 0.0, 0.0};
    int count = 0;
    unsigned char bytes[3] = {0, 0, 0};
};

// Builds the explanation as the render reports it.
class TreeRecorder : public PixelRecorder {
public:
    explicit TreeRecorder(Explanation& into) : e_(into) {}
    void ray(RayKind kind, int depth, const Vec3& origin, const Vec3& direction,
             int inside) override;
    void missed(const Vec3& background) override;
    void hit(int object, int face, double t, const Vec3& point, const Vec3& normal) override;
    void depthLimit() override;
    void surface(const Vec3& pigment, const Vec3& ambient) override;
    void light(const LightPart& part) override;
    void weights(double reflection, double transmission) override;
    void returned(const Vec3& color) override;
    void neighbours(const unsigned char one[3], long long row, long long col,
                    const unsigned char other[3], double limit) override;
    void gridRay(int j, int i) override;
    void corners(bool even, double limit) override;
    void mean(const double sum[3], int rays) override;
    void clamped(const Vec3& color) override;

private:
    RayNode& current() { return e_.nodes[open_.back()]; }
    void close(const Vec3& color);

    Explanation& e_;
    std::vector<int> open_;  // the rays being traced, innermost last
    int cellJ_ = -1, cellI_ = -1;
};

// One addition to a ray's colour, in the render's order: what it is
// ("ambient", "diffuse", "specular", a child ray's kind, or "background"
// for a ray that met nothing), what it adds (a child's colour times its
// weight), the ray's colour after it, and its share of the pixel (what it
// adds times the weights of the rays above). The last sum is the colour the
// ray returns; a child's share is the sum of its own terms' shares.
struct Term {
    const char* what;
    int light;  // for diffuse and specular, else -1
    double weight;
    Vec3 value, sum, share;
    int child = -1;  // the ray whose colour a child term adds
};
// The terms of ray `index`, whose colour reaches the pixel times `above`.
std::vector<Term> termsOf(const Explanation& e, int index, double above);
// The weight a child ray's colour is added with.
double weightOf(const Explanation& e, int parent, int child);

// The shortest decimal that reads back as exactly the value.
std::string number(double value);
const char* kindName(RayKind kind);
const char* objectTypeName(int object);

void printText(std::FILE* out, const Explanation& e);
void printJson(std::FILE* out, const Explanation& e);

}  // namespace fotolume::explain
