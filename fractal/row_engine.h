// Escape counts of runs of points on one row, several points at a time in SIMD lanes, each
// exactly the count escapeCountReference gives. The widest instruction set the processor runs is
// chosen at the first call.
#pragma once

#include <string>
#include <vector>

namespace vorlux {

// counts[i] = the escape count of cr[i] + i*ci, for every i below size. Allocates nothing; any
// thread may call it.
void escapeCountRow(const double *cr, int size, double ci, int *counts);

// The instruction set the row engine runs on, by Highway's name ("AVX3" is AVX-512).
const char *rowEnginePath();

// For tests and benchmarks: the instruction sets this build has lanes for and this processor
// runs, widest first, and a way to make the engine run on one of them (an empty name, or one not
// in the list, restores the widest). Process-wide; no other thread may count meanwhile.
std::vector<std::string> rowEnginePaths();
void chooseRowEnginePath(const std::string &name);

}  // namespace vorlux
