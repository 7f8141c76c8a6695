// Explaining a pixel: the tree of rays behind it, with every number the
// render used for it, as text for people or JSON for programs.
#pragma once

#include <cstdio>
#include <string>

#include "image/image.hpp"

namespace fotolume {

enum class ExplainFormat { Text, Json };

// Traces pixel column `col`, row `row` of the current scene and image size
// as a render of `frame` does (the frame's region is not used) and prints
// what happened to `out`; `bytes` gets the pixel's bytes, the render's own.
void explainPixelTo(std::FILE* out, const Frame& frame, long long col, long long row,
                    ExplainFormat format, unsigned char bytes[3]);

// `text` as a JSON string, quotes included (every byte outside printable
// ASCII escaped, so any message is valid JSON).
std::string jsonString(const std::string& text);

// An error of an explanation asked for as JSON, as JSON: one object
// {"error": MESSAGE, "status": STATUS} and a line end.
void printJsonError(std::FILE* out, const std::string& message, int status);

}  // namespace fotolume
