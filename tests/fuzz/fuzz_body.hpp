// One fuzz input through the whole pipeline: read it as a scene file and,
// when it is accepted, render a tiny image and write it. Aborts when the
// fast nearest-hit search disagrees with the table-order scan.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fotolume::fuzz {

void runOneInput(const std::uint8_t* data, std::size_t size);

}  // namespace fotolume::fuzz
