// CSV rows of analysis frames: end, the 24 band levels, optionally the 429 line values.
#pragma once

#include <cstdint>
#include <cstdio>

#include "audio/analysis.h"

namespace tonalis {

// "end,b0,...,b23" and, with `line`, ",s0,...,s428"; then a newline.
void writeCsvHeader(std::FILE* out, bool line);
// Band levels with 4 decimals, line values as integers.
void writeCsvRow(std::FILE* out, int64_t end, const SpectrumFrame& frame, bool line);

}  // namespace tonalis
