// Whether the search uses two-lane SSE2 instructions. SSE2 is part of every
// x86-64 processor; elsewhere, or when the build asks for it
// (FOTOLUME_SCALAR), the same comparisons run one lane at a time. Internal
// to the geometry folder.
#pragma once

#if defined(__SSE2__) && !defined(FOTOLUME_SCALAR)
#define FOTOLUME_SSE2 1
#include <emmintrin.h>
#else
#define FOTOLUME_SSE2 0
#endif
