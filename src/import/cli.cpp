// fotolume-import's command line: the options, the model placed, and its
// rows written bare or added to a scene.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "import/import.hpp"
#include "scene/scene.hpp"

#ifndef FOTOLUME_VERSION
#define FOTOLUME_VERSION "unknown"
#endif

namespace fotolume::import {

namespace {

const char* const USAGE =
    "Usage: fotolume-import [OPTION]... MODEL\n"
    "Write the triangles of MODEL (OBJ, PLY, STL and the other formats the Open Asset\n"
    "Import Library reads) as object rows of a fotolume scene, on standard output.\n"
    "\n"
    "By default the model is one smooth row: shared corners, each with a normal\n"
    "(the file's own, or made from the faces around it).\n"
    "\n"
    "  --into SCENE        write SCENE with the rows added and its object count\n"
    "                      updated, instead of the bare rows\n"
    "  --flat              one mesh row: shared corners, flat faces\n"
    "  --triangles         a triangle row a face (faces keep edge margins)\n"
    "  --crease DEG        where normals are made, an edge whose faces meet at more\n"
    "                      than DEG degrees stays sharp (default 60)\n"
    "  --fit \"X Y Z S\"     scale and move the model into the cube of edge S\n"
    "                      centred at X Y Z (its largest extent becomes S)\n"
    "  --scale S           scale by S (not with --fit; default 1)\n"
    "  --translate \"X Y Z\" then move by X Y Z (not with --fit)\n"
    "  --floor Y           last, move the model up or down to rest on height Y\n"
    "  --rotate \"X Y Z D\"  first turn by D degrees about the axis X Y Z\n"
    "  --up AXIS           the file's up axis, x, y or z (default y), turned to y\n"
    "  --pigment N         the pigment row of every triangle (default 0)\n"
    "  --per-material      pigment N plus the face's material number; with --into,\n"
    "                      a solid pigment of each material's colour is added\n"
    "  --finish N          the finish row of every triangle (default 0)\n"
    "  -h, --help          print this help;  --version  print the version\n";

// Where normals are made: 60 degrees keeps the right-angled edges of a
// machined part sharp, while the faces of a scanned or tessellated curve,
// which meet at far smaller angles, shade as one surface.
constexpr double DEFAULT_CREASE = 60;

struct Options {
    std::string model, into;
    Placement placement;
    int pigment = 0, finish = 0;
    bool perMaterial = false;
    Form form = Form::Smooth;
    double crease = DEFAULT_CREASE;
    bool scaled = false;  // --scale or --translate given
};

// Numbers separated by blanks or commas, all of them finite.
bool numbers(const std::string& text, int count, double* out) {
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ',') c = ' ';
    std::istringstream in(spaced);
    std::vector<double> values;
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        const double value = std::strtod(word.c_str(), &end);
        if (*end != '\0' || !std::isfinite(value)) return false;
        values.push_back(value);
    }
    if (static_cast<int>(values.size()) != count) return false;
    for (int i = 0; i < count; ++i) out[i] = values[i];
    return true;
}

bool whole(const std::string& text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 2147483647L) return false;
    out = static_cast<int>(value);
    return true;
}

// Takes the option at argv[i] with its value; "" or the complaint.
std::string takeOption(int argc, char** argv, int& i, Options& o) {
    const std::string option = argv[i];
    if (option == "--per-material" || option == "--flat" || option == "--triangles") {
        if (option == "--per-material") o.perMaterial = true;
        if (option == "--flat") o.form = Form::Flat;
        if (option == "--triangles") o.form = Form::Triangles;
        return "";
    }
    if (i + 1 >= argc) return option + " needs a value";
    const std::string value = argv[++i];
    Placement& p = o.placement;
    bool good = true;
    if (option == "--into")
        o.into = value;
    else if (option == "--fit") {
        double v[4];
        good = numbers(value, 4, v) && v[3] > 0;
        p.fit = good;
        for (int k = 0; k < 3 && good; ++k) p.centre[k] = v[k];
        p.size = v[3];
    } else if (option == "--scale") {
        good = numbers(value, 1, &p.scale) && p.scale != 0;
        o.scaled = true;
    } else if (option == "--translate") {
        good = numbers(value, 3, p.translate);
        o.scaled = true;
    } else if (option == "--floor") {
        good = numbers(value, 1, &p.floorY);
        p.floor = good;
    } else if (option == "--crease") {
        good = numbers(value, 1, &o.crease) && o.crease >= 0 && o.crease <= 180;
    } else if (option == "--rotate") {
        double v[4];
        good = numbers(value, 4, v) && (v[0] != 0 || v[1] != 0 || v[2] != 0);
        p.rotate = good;
        for (int k = 0; k < 3 && good; ++k) p.axis[k] = v[k];
        p.degrees = v[3];
    } else if (option == "--up") {
        good = value == "x" || value == "y" || value == "z";
        p.up = good ? value[0] : 'y';
    } else if (option == "--pigment")
        good = whole(value, o.pigment);
    else if (option == "--finish")
        good = whole(value, o.finish);
    else
        return "unknown option '" + option + "'";
    return good ? "" : "bad value for " + option + ": '" + value + "'";
}

// The file's name without its folders, printable, for the comment above
// the rows it becomes (a line end in it would end the comment).
std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return printable(slash == std::string::npos ? path : path.substr(slash + 1));
}

int usageError(const std::string& problem) {
    std::fprintf(stderr,
                 "fotolume-import: %s\nTry 'fotolume-import --help' for more "
                 "information.\n",
                 problem.c_str());
    return 2;
}

}  // namespace

namespace {

// The model read, placed, made into rows (or added to --into's scene) and
// written out; the exit status.
int importModel(const Options& o) {
    Model model;
    std::string error;
    if (!loadModel(o.model, o.form, o.crease, model, error)) {
        std::fprintf(stderr, "fotolume-import: cannot read %s: %s\n", printable(o.model).c_str(),
                     error == "std::bad_alloc" ? "out of memory" : error.c_str());
        return 1;
    }
    if (!place(model, o.placement, error)) {
        std::fprintf(stderr, "fotolume-import: %s: %s\n", printable(o.model).c_str(),
                     error.c_str());
        return 1;
    }
    const long long lastPigment =
        static_cast<long long>(o.pigment) +
        (o.perMaterial ? static_cast<long long>(model.materialColors.size()) - 1 : 0);
    if (o.into.empty() && lastPigment > 2147483647LL) {
        std::fprintf(stderr,
                     "fotolume-import: --pigment %d with --per-material names pigments past the "
                     "largest row number, 2147483647\n",
                     o.pigment);
        return 1;
    }
    std::string out;
    long long rows = 0;
    if (o.into.empty()) {
        out = objectRows(model, o.form, o.pigment, o.perMaterial, o.finish, rows);
    } else if (const int status = addToScene(o.into, baseName(o.model), model, o.form, o.pigment,
                                             o.perMaterial, o.finish, out);
               status != 0) {
        return status;
    }
    if (model.dropped > 0)
        std::fprintf(stderr,
                     "fotolume-import: %ld degenerate faces dropped (fewer than three corners, "
                     "two alike, or all on one line)\n",
                     model.dropped);
    double lo[3], hi[3];
    bounds(model, lo, hi);
    std::fprintf(stderr, "fotolume-import: %zu faces from %s, placed from %s %s %s to %s %s %s\n",
                 model.faces.size(), printable(o.model).c_str(), coordinate(lo[0]).c_str(),
                 coordinate(lo[1]).c_str(), coordinate(lo[2]).c_str(), coordinate(hi[0]).c_str(),
                 coordinate(hi[1]).c_str(), coordinate(hi[2]).c_str());
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "fotolume-import: write error: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

}  // namespace

int runImport(int argc, char** argv, bool outputClosed) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if ((word == "-h" || word == "--help" || word == "--version") && outputClosed) {
            std::fputs("fotolume-import: standard output is closed: nothing was done\n", stderr);
            return 1;
        }
        if (word == "-h" || word == "--help") {
            std::fputs(USAGE, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (word == "--version") {
            std::printf("fotolume-import %s\n", FOTOLUME_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (word.size() > 1 && word[0] == '-') {
            const std::string problem = takeOption(argc, argv, i, o);
            if (!problem.empty()) return usageError(problem);
        } else if (o.model.empty()) {
            o.model = word;
        } else {
            return usageError("one model at a time");
        }
    }
    if (o.model.empty()) return usageError("no model file given");
    if (outputClosed && o.into.empty()) {
        std::fprintf(stderr,
                     "fotolume-import: standard output is closed, and the rows go there "
                     "(give --into SCENE to add them to a scene): nothing was done\n");
        return 1;
    }
    if (o.placement.fit && o.scaled)
        return usageError("--fit sets the scale and the position: not with --scale or --translate");
    return importModel(o);
}

}  // namespace fotolume::import
