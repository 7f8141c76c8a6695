// Whether the search tests objects two at a time with SSE2, which every
// x86-64 processor has. Elsewhere, or when the build asks for it
// (FOTOLUME_SCALAR), each object is tested on its own. Internal to the
// geometry folder.
#pragma once

#if defined(__SSE2__) && !defined(FOTOLUME_SCALAR)
#define FOTOLUME_SSE2 1
#include <emmintrin.h>
#else
#define FOTOLUME_SSE2 0
#endif
