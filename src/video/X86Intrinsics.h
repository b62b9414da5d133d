// The x86 vector intrinsics for the colour converters' SIMD files (included only under
// KEVRA_X86_SIMD), with GCC's -Wuninitialized off for the rest of the including file: GCC 12's
// AVX-512 headers make their "undefined" vectors by self-initialisation, and its own
// -Wuninitialized then flags every inlined broadcast at low optimisation (sanitizer builds).
#pragma once

#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
