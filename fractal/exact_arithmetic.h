// Every colour must be bit-exact, so every double operation of the fractal code must round to a
// double as it happens. x87 arithmetic (32-bit x86 without SSE2 maths) keeps 80-bit intermediate
// values instead, which changes orbits and counts; such a build must use -msse2 -mfpmath=sse.
#pragma once

#include <cfloat>

static_assert(FLT_EVAL_METHOD == 0,
              "the fractal code needs each double operation rounded to double: build it with -msse2 -mfpmath=sse");
