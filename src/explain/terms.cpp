// A ray's colour as the render builds it: each term added in the render's
// order, with the sum it leaves and its share of the pixel (what it adds
// times the weights of the rays above it), so that an explanation adds up
// without arithmetic.
#include <cstring>

#include "explain/tree.hpp"
#include "shading/shading.hpp"

namespace fotolume::explain {

namespace {

class Adder {
public:
    Adder(std::vector<Term>& terms, double above) : terms_(terms), above_(above) {}

    void add(const char* what, int light, double weight, const Vec3& value) {
        Term term{what, light, weight, value, sum_, value};
        for (int k = 0; k < 3; ++k) {
            term.sum[k] = value[k] + sum_[k];
            term.share[k] = above_ * value[k];
        }
        sum_ = term.sum;
        terms_.push_back(term);
    }
    // The first term is the ray's colour so far, not added to anything.
    void start(const char* what, const Vec3& value) {
        terms_.push_back(Term{what, -1, 1.0, value, value, scale(above_, value)});
        sum_ = value;
    }

private:
    std::vector<Term>& terms_;
    double above_;
    Vec3 sum_{};
};

}  // namespace

std::vector<Term> termsOf(const Explanation& e, int index, double above) {
    const RayNode& node = e.nodes[index];
    std::vector<Term> terms;
    Adder adder(terms, above);
    if (!node.hit) {
        adder.start("background", node.color);
        return terms;
    }
    if (!node.shaded) return terms;  // the depth limit: black
    adder.start("ambient", node.ambient);
    for (const LightPart& part : node.lights) {
        if (!part.reached) continue;
        if (part.nl > MIN_LIGHT_COSINE) adder.add("diffuse", part.light, 1.0, part.diffuse);
        if (part.nh > MIN_LIGHT_COSINE) adder.add("specular", part.light, 1.0, part.specular);
    }
    for (int child : node.children) {
        const RayNode& ray = e.nodes[child];
        const double weight = ray.kind == RayKind::Reflected ? node.reflection : node.transmission;
        Vec3 value;
        for (int k = 0; k < 3; ++k) value[k] = weight * ray.color[k];
        adder.add(kindName(ray.kind), -1, weight, value);
        terms.back().child = child;
    }
    return terms;
}

double weightOf(const Explanation& e, int parent, int child) {
    return e.nodes[child].kind == RayKind::Reflected ? e.nodes[parent].reflection
                                                     : e.nodes[parent].transmission;
}

}  // namespace fotolume::explain
