// Adding a model's rows to an existing scene: the scene is read as a render
// reads it (so the counts and the ends of the sections are known), then its
// text is changed in exactly those places.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "import/import.hpp"
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

}  // namespace

int addToScene(const std::string& scene, const std::string& label, const Model& model, Form form,
               int pigment, bool perMaterial, int finish, std::string& out) {
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
    int warnings = 0;
    if (readScene(scene.c_str(), stderr, &warnings) != ReadStatus::Ok || warnings > 0) {
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
