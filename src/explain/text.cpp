// The explanation for people: the tree indented by depth, every number in
// the shortest form that reads back exactly, lines within 100 columns.
#include <cstdio>
#include <cstring>
#include <string>

#include "explain/tree.hpp"
#include "scene/scene.hpp"

namespace fotolume::explain {

namespace {

std::string triple(const Vec3& v) {
    return "(" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + ")";
}

std::string triple(const double v[3]) { return triple(Vec3{{v[0], v[1], v[2]}}); }

std::string lineNote(const std::vector<long>& lines, int row) {
    const long line = lineOfRow(lines, row);
    return line > 0 ? ", line " + std::to_string(line) : "";
}

// "light 1 (line 7)", or "light 1" where the line is not known.
std::string rowName(const char* table, int row, const std::vector<long>& lines) {
    const long line = lineOfRow(lines, row);
    return std::string(table) + " " + std::to_string(row) +
           (line > 0 ? " (line " + std::to_string(line) + ")" : "");
}

std::string objectName(int object) {
    return "object " + std::to_string(object) + " (" + objectTypeName(object) +
           lineNote(rowLines.objects, object) + ")";
}

class TextPrinter {
public:
    TextPrinter(std::FILE* out, const Explanation& e) : out_(out), e_(e) {}

    // One line, or, where it would pass 100 columns, the text before its
    // last bracket and then the bracket's contents, one value a line if
    // need be, indented below it.
    void say(int indent, const std::string& text) {
        const std::string margin(2 * indent, ' ');
        const std::size_t bracket = text.rfind(" (");
        if (margin.size() + text.size() <= 100 || bracket == std::string::npos) {
            std::fprintf(out_, "%s%s\n", margin.c_str(), text.c_str());
            return;
        }
        std::fprintf(out_, "%s%s\n", margin.c_str(), text.substr(0, bracket).c_str());
        const std::string inner = text.substr(bracket + 1);
        if (margin.size() + 4 + inner.size() <= 100) {
            std::fprintf(out_, "%s    %s\n", margin.c_str(), inner.c_str());
            return;
        }
        std::size_t start = 1;  // past "("
        for (std::size_t comma; (comma = inner.find(", ", start)) != std::string::npos;
             start = comma + 2)
            std::fprintf(out_, "%s    %s\n", margin.c_str(),
                         inner.substr(start, comma - start).c_str());
        std::fprintf(out_, "%s    %s\n", margin.c_str(),
                     inner.substr(start, inner.size() - 1 - start).c_str());
    }

    static const Term* find(const std::vector<Term>& terms, const char* what, int light) {
        for (const Term& term : terms)
            if (term.light == light && std::strcmp(term.what, what) == 0) return &term;
        return nullptr;
    }

    // What a term adds, the ray's colour after it (where it is not the
    // first) and, below the primary ray, its share of the pixel.
    void termLines(int at, const Term& term, bool first, double above) {
        say(at, "term " + triple(term.value));
        if (!first) say(at, "sum " + triple(term.sum));
        if (above != 1.0) say(at, "share of the pixel " + triple(term.share));
    }

    void light(int at, const RayNode& node, const LightPart& part, const std::vector<Term>& terms,
               double above) {
        std::string head =
            rowName("light", part.light, rowLines.lights) + ": distance " + number(part.distance);
        if (part.blocker >= 0 && !part.reached) {
            say(at, head + ", blocked by " + objectName(part.blocker));
            return;
        }
        say(at, head + ", reached; attenuation " + number(part.attenuation));
        if (part.blocker >= 0)
            say(at + 1, "through " + objectName(part.blocker) + ": transparent, no shadow");
        const int f = objectFinish[node.object];
        if (part.nl > MIN_LIGHT_COSINE) {
            say(at + 1,
                "diffuse: N.L " + number(part.nl) + ", finish diffuse " + number(finishDiffuse[f]));
            termLines(at + 2, *find(terms, "diffuse", part.light), false, above);
        } else {
            say(at + 1, "diffuse: N.L " + number(part.nl) + ", not above 0.001: none");
        }
        if (part.nh > MIN_LIGHT_COSINE) {
            say(at + 1, "specular: N.H " + number(part.nh) + ", finish specular " +
                            number(finishSpecular[f]) + ", shininess " +
                            number(finishShininess[f]));
            termLines(at + 2, *find(terms, "specular", part.light), false, above);
        } else {
            say(at + 1, "specular: N.H " + number(part.nh) + ", not above 0.001: none");
        }
    }

    void surface(int at, const RayNode& node, const std::vector<Term>& terms, double above) {
        const int pigment = objectPigment[node.object];
        const int f = objectFinish[node.object];
        say(at, rowName("pigment", pigment, rowLines.pigments) + ", " + pigmentKind[pigment].text +
                    ": colour " + triple(node.pigment));
        say(at, "ambient: " + rowName("finish", f, rowLines.finishes) + " ambient " +
                    number(finishAmbient[f]) + ", light 0 colour " + triple(plain(lightColor[0])));
        termLines(at + 1, terms.front(), true, above);
    }

    // Ray `index`, whose colour reaches the pixel times `above`.
    void ray(int index, int at, double above) {
        const RayNode& node = e_.nodes[index];
        const std::vector<Term> terms = termsOf(e_, index, above);
        say(at, std::string(kindName(node.kind)) + " ray, depth " + std::to_string(node.depth) +
                    ", " + (node.inside ? "inside" : "outside"));
        say(at + 1, "from " + triple(node.origin));
        say(at + 1, "along " + triple(node.direction));
        if (!node.hit) {
            say(at + 1, "met nothing: background " + triple(node.color));
            if (above != 1.0) say(at + 2, "share of the pixel " + triple(terms.front().share));
            return;
        }
        say(at + 1, "met " + objectName(node.object) +
                        (node.face >= 0 ? ", face " + std::to_string(node.face) : "") +
                        " at distance " + number(node.t));
        say(at + 2, "point " + triple(node.point));
        say(at + 2, "normal " + triple(node.normal));
        if (node.depthLimit) {
            say(at + 1, "depth limit reached: not shaded, black");
            return;
        }
        surface(at + 1, node, terms, above);
        for (const LightPart& part : node.lights) light(at + 1, node, part, terms, above);
        say(at + 1, "reflection " + number(node.reflection) + ", transmission " +
                        number(node.transmission));
        for (const Term& term : terms) {
            if (term.child < 0) continue;
            ray(term.child, at + 1, above * term.weight);
            say(at + 1, std::string(term.what) + " colour times " + number(term.weight) + ":");
            termLines(at + 2, term, false, above);
        }
        say(at + 1, "returned " + triple(node.color));
    }

    void decision() {
        say(0, "one ray gives " + bytes(e_.one));
        if (e_.neighbourRow < 0) {
            say(0, "no neighbour differs by more than " + number(e_.limit) +
                       ": not a candidate, kept");
            return;
        }
        say(0, "neighbour " + std::to_string(e_.neighbourCol) + "," +
                   std::to_string(e_.neighbourRow) + " gives " + bytes(e_.neighbour) +
                   ", more than " + number(e_.limit) + " apart: a candidate");
    }

    void grid() {
        for (const PrimaryRay& ray : e_.rays)
            if (ray.j >= 0)
                say(1, "cell " + std::to_string(ray.j) + "," + std::to_string(ray.i) +
                           ": clamped " + triple(ray.clamped));
        if (e_.cornersTested)
            say(0, e_.even ? "corners within " + number(e_.cornerLimit) +
                                 " of the one ray: mean of them and its bytes' middle"
                           : "a corner differs by more than " + number(e_.cornerLimit) +
                                 ": the whole grid is traced");
        if (e_.averaged)
            say(0, "mean of " + std::to_string(e_.count) + " rays: sum " + triple(e_.sum) + " / " +
                       std::to_string(e_.count));
    }

    static std::string bytes(const unsigned char b[3]) {
        return std::to_string(b[0]) + " " + std::to_string(b[1]) + " " + std::to_string(b[2]);
    }

    void print() {
        say(0, "pixel " + std::to_string(e_.col) + "," + std::to_string(e_.row) + " of " +
                   std::to_string(e_.width) + "x" + std::to_string(e_.height));
        for (const PrimaryRay& primary : e_.rays) {
            if (primary.j >= 0) continue;
            ray(primary.root, 0, 1.0);
            say(0, "clamped at 1: " + triple(primary.clamped));
        }
        if (e_.samples > 1) {
            say(0, "anti-aliasing: " + std::to_string(e_.samples) + "x" +
                       std::to_string(e_.samples) + " grid, threshold " + number(e_.threshold));
            if (e_.decided) decision();
            grid();
        }
        say(0, "bytes " + bytes(e_.bytes));
    }

private:
    std::FILE* out_;
    const Explanation& e_;
};

}  // namespace

void printText(std::FILE* out, const Explanation& e) { TextPrinter(out, e).print(); }

}  // namespace fotolume::explain
