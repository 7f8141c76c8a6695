// The explanation for programs: one JSON object, a ray an object nested in
// its parent's "rays", numbers that read back exactly (the few that are not
// finite as the strings "nan", "inf" and "-inf").
#include <cmath>
#include <cstdio>
#include <string>

#include "explain/explain.hpp"
#include "explain/tree.hpp"
#include "scene/scene.hpp"

namespace fotolume::explain {

namespace {

std::string num(double value) {
    return std::isfinite(value) ? number(value) : "\"" + number(value) + "\"";
}

std::string array(const double* v) {
    return "[" + num(v[0]) + "," + num(v[1]) + "," + num(v[2]) + "]";
}

std::string array(const Vec3& v) { return array(&v[0]); }

std::string bytes(const unsigned char b[3]) {
    return "[" + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) +
           "]";
}

std::string row(const char* name, int index, const std::vector<long>& lines) {
    return "{\"" + std::string(name) + "\":" + std::to_string(index) +
           ",\"line\":" + std::to_string(lineOfRow(lines, index)) + "}";
}

std::string light(const LightPart& part) {
    std::string text =
        "{\"light\":" + std::to_string(part.light) +
        ",\"line\":" + std::to_string(lineOfRow(rowLines.lights, part.light)) +
        ",\"distance\":" + num(part.distance) + ",\"toward\":" + array(part.toward) +
        ",\"blocker\":" +
        (part.blocker >= 0 ? row("object", part.blocker, rowLines.objects) : std::string("null")) +
        ",\"reached\":" + (part.reached ? "true" : "false");
    if (part.reached)
        text += ",\"attenuation\":" + num(part.attenuation) + ",\"nl\":" + num(part.nl) +
                ",\"nh\":" + num(part.nh) + ",\"diffuse\":" + array(part.diffuse) +
                ",\"specular\":" + array(part.specular);
    return text + "}";
}

// The ray's colour term by term: what each adds, the sum it leaves, its
// share of the pixel.
std::string terms(const Explanation& e, int index, double above) {
    std::string text = ",\"terms\":[";
    bool first = true;
    for (const Term& term : termsOf(e, index, above)) {
        text += std::string(first ? "" : ",") + "{\"term\":\"" + term.what + "\"";
        if (term.light >= 0) text += ",\"light\":" + std::to_string(term.light);
        if (term.child >= 0) text += ",\"weight\":" + num(term.weight);
        text += ",\"value\":" + array(term.value) + ",\"sum\":" + array(term.sum) +
                ",\"share\":" + array(term.share) + "}";
        first = false;
    }
    return text + "]";
}

std::string ray(const Explanation& e, int index, double above) {
    const RayNode& node = e.nodes[index];
    std::string text =
        "{\"kind\":\"" + std::string(kindName(node.kind)) +
        "\",\"depth\":" + std::to_string(node.depth) + ",\"origin\":" + array(node.origin) +
        ",\"direction\":" + array(node.direction) + ",\"inside\":" + std::to_string(node.inside);
    if (!node.hit)
        return text + ",\"hit\":null" + terms(e, index, above) + ",\"color\":" + array(node.color) +
               "}";
    const int object = node.object;
    text += ",\"hit\":{\"object\":" + std::to_string(object) + ",\"type\":\"" +
            objectTypeName(object) +
            "\",\"line\":" + std::to_string(lineOfRow(rowLines.objects, object)) +
            (node.face >= 0 ? ",\"face\":" + std::to_string(node.face) : std::string()) +
            ",\"distance\":" + num(node.t) + ",\"point\":" + array(node.point) +
            ",\"normal\":" + array(node.normal) + "}";
    text += ",\"depth_limit\":" + std::string(node.depthLimit ? "true" : "false");
    if (node.shaded) {
        const int pigment = objectPigment[object];
        text += ",\"pigment\":{\"pigment\":" + std::to_string(pigment) + ",\"type\":\"" +
                pigmentKind[pigment].text +
                "\",\"line\":" + std::to_string(lineOfRow(rowLines.pigments, pigment)) +
                ",\"color\":" + array(node.pigment) + "}" +
                ",\"finish\":" + row("finish", objectFinish[object], rowLines.finishes) +
                ",\"ambient\":" + array(node.ambient) + ",\"lights\":[";
        for (std::size_t i = 0; i < node.lights.size(); ++i)
            text += (i ? "," : "") + light(node.lights[i]);
        text += "],\"reflection\":" + num(node.reflection) +
                ",\"transmission\":" + num(node.transmission) + ",\"rays\":[";
        for (std::size_t i = 0; i < node.children.size(); ++i)
            text += (i ? "," : "") +
                    ray(e, node.children[i], above * weightOf(e, index, node.children[i]));
        text += "]";
    }
    text += terms(e, index, above);
    return text + ",\"color\":" + array(node.color) + "}";
}

}  // namespace

void printJson(std::FILE* out, const Explanation& e) {
    std::string text = "{\"pixel\":[" + std::to_string(e.col) + "," + std::to_string(e.row) +
                       "],\"image\":[" + std::to_string(e.width) + "," + std::to_string(e.height) +
                       "],\"samples\":" + std::to_string(e.samples);
    for (const PrimaryRay& primary : e.rays)
        if (primary.j < 0)
            text +=
                ",\"ray\":" + ray(e, primary.root, 1.0) + ",\"clamped\":" + array(primary.clamped);
    if (e.samples > 1) {
        text += ",\"threshold\":" + num(e.threshold);
        if (e.decided)
            text += ",\"one\":" + bytes(e.one) + ",\"limit\":" + num(e.limit) + ",\"neighbour\":" +
                    (e.neighbourRow < 0 ? std::string("null")
                                        : "{\"column\":" + std::to_string(e.neighbourCol) +
                                              ",\"row\":" + std::to_string(e.neighbourRow) +
                                              ",\"bytes\":" + bytes(e.neighbour) + "}");
        if (e.cornersTested)
            text += ",\"corners\":{\"limit\":" + num(e.cornerLimit) +
                    ",\"even\":" + (e.even ? "true" : "false") + "}";
        text += ",\"grid\":[";
        bool first = true;
        for (const PrimaryRay& primary : e.rays) {
            if (primary.j < 0) continue;
            text += (first ? "" : ",") + std::string("{\"cell\":[") + std::to_string(primary.j) +
                    "," + std::to_string(primary.i) + "],\"clamped\":" + array(primary.clamped) +
                    "}";
            first = false;
        }
        text += "]";
        if (e.averaged)
            text +=
                ",\"mean\":{\"sum\":" + array(e.sum) + ",\"rays\":" + std::to_string(e.count) + "}";
    }
    text += ",\"bytes\":" + bytes(e.bytes) + "}\n";
    std::fputs(text.c_str(), out);
}

}  // namespace fotolume::explain

namespace fotolume {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void printJsonError(std::FILE* out, const std::string& message, int status) {
    const std::string text =
        "{\"error\":" + jsonString(message) + ",\"status\":" + std::to_string(status) + "}\n";
    std::fputs(text.c_str(), out);
}

}  // namespace fotolume
