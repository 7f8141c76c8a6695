// Adding a model's rows to an existing scene: the scene is read as a render
// reads it (so the counts and the ends of the sections are known), then its
// text is changed in exactly those places.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "import/import.hpp"
#include "os/os.hpp"
#include "scene/scene.hpp"

namespace fotolume::import {

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Replaces the count that stands at or after `at` by `count`.
void replaceCount(std::string& text, long at, long long count) {
    std::size_t start = static_cast<std::size_t>(at);
    while (start < text.size() && blank(text[start])) ++start;
    std::size_t end = start;
    while (end < text.size() && !blank(text[end]) && text[end] != '#') ++end;
    text.replace(start, end - start, std::to_string(count));
}

std::string pigmentRows(const Model& model) {
    std::string rows;
    for (const Point& c : model.materialColors)
        rows += "solid " + number(c.x) + " " + number(c.y) + " " + number(c.z) + "\n";
    return rows;
}

// Why the scene cannot take rows before it is even read ("" when it can):
// a folder, a pipe (read twice, once for its text and once as a scene), or
// the very file standard output goes to (the result would be written over,
// or after, the text it is made from).
std::string unfitScene(const std::string& scene) {
    const os::FileInfo about = os::describe(scene);
    if (about.kind == os::Kind::Missing) return "";  // said when it is read
    if (about.kind == os::Kind::Folder) return printable(scene) + " is a folder, not a scene";
    if (about.kind != os::Kind::Regular)
        return "the scene " + printable(scene) +
               " must be a regular file (it is a pipe or a device)";
    if (os::describeOpen(os::STANDARD_OUTPUT).same(about))
        return "standard output is the scene " + printable(scene) +
               " itself; write the result to another file, then rename it over the scene";
    return "";
}

// A scene with no objects yet (camera and lights only) warns only that it
// has none: the most natural place to add a model.
bool readsForRows(const std::string& scene) {
    std::FILE* said = std::tmpfile();
    int warnings = 0;
    const ReadStatus status = readScene(scene.c_str(), said != nullptr ? said : stderr, &warnings);
    const bool fit =
        status == ReadStatus::Ok && (warnings == 0 || (warnings == 1 && objectCount == 0));
    if (said == nullptr) return fit;
    if (!fit) {
        std::rewind(said);
        for (int c; (c = std::fgetc(said)) != EOF;) std::fputc(c, stderr);
    }
    std::fclose(said);
    return fit;
}

}  // namespace

int addToScene(const std::string& scene, const std::string& label, const Model& model, Form form,
               int pigment, bool perMaterial, int finish, std::string& out) {
    const std::string unfit = unfitScene(scene);
    if (!unfit.empty()) {
        std::fprintf(stderr, "fotolume-import: %s\n", unfit.c_str());
        return 1;
    }
    for (std::size_t m = 0; perMaterial && m < model.materialColors.size(); ++m) {
        const Point& c = model.materialColors[m];
        if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z)) {
            std::fprintf(stderr,
                         "fotolume-import: material %zu's colour is not a finite number (%s %s "
                         "%s): mend the model's material, or leave out --per-material\n",
                         m, number(c.x).c_str(), number(c.y).c_str(), number(c.z).c_str());
            return 1;
        }
    }
    std::ifstream in(scene, std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "fotolume-import: cannot read the scene %s\n",
                     printable(scene).c_str());
        return 1;
    }
    std::string text = whole.str();
    imageWidth = imageHeight = 1;
    if (!readsForRows(scene)) {
        std::fprintf(stderr,
                     "fotolume-import: the scene %s must read without a warning before rows are "
                     "added to it (fotolume --check %s says what to mend)\n",
                     printable(scene).c_str(), printable(scene).c_str());
        return 1;
    }
    if (perMaterial) pigment = pigmentCount;
    if (!perMaterial && pigment >= pigmentCount) {
        std::fprintf(stderr, "fotolume-import: the scene %s has no pigment %d\n",
                     printable(scene).c_str(), pigment);
        return 1;
    }
    if (finish >= finishCount) {
        std::fprintf(stderr, "fotolume-import: the scene %s has no finish %d\n",
                     printable(scene).c_str(), finish);
        return 1;
    }
    long long rows = 0;
    const std::string added = objectRows(model, form, pigment, perMaterial, finish, rows);
    const long long objects = static_cast<long long>(objectCount) + rows;
    if (objects > 2147483647LL) {
        std::fprintf(stderr, "fotolume-import: a scene holds at most 2147483647 objects\n");
        return 1;
    }
    // From the end of the text back, so that each offset still holds.
    text.insert(static_cast<std::size_t>(rowLines.objectsEnd),
                "\n# " + label + ": " + std::to_string(model.faces.size()) +
                    " faces (fotolume-import " FOTOLUME_VERSION ")\n" + added);
    replaceCount(text, rowLines.objectCountAt, objects);
    if (perMaterial) {
        text.insert(static_cast<std::size_t>(rowLines.pigmentsEnd), "\n" + pigmentRows(model));
        replaceCount(text, rowLines.pigmentCountAt,
                     pigmentCount + static_cast<long long>(model.materialColors.size()));
    }
    out = std::move(text);
    return 0;
}

}  // namespace fotolume::import
