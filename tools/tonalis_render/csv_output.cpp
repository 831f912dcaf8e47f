#include "csv_output.h"

#include <cinttypes>

namespace tonalis {

void writeCsvHeader(std::FILE* out, bool line) {
  std::fputs("end", out);
  for (int b = 0; b < BandCount; ++b) std::fprintf(out, ",b%d", b);
  if (line) {
    for (int k = 0; k < SpectrumLineLength; ++k) std::fprintf(out, ",s%d", k);
  }
  std::fputc('\n', out);
}

void writeCsvRow(std::FILE* out, int64_t end, const SpectrumFrame& frame, bool line) {
  std::fprintf(out, "%" PRId64, end);
  for (float level : frame.bandLevels) std::fprintf(out, ",%.4f", static_cast<double>(level));
  if (line) {
    for (int32_t v : frame.spectrumLine) std::fprintf(out, ",%" PRId32, v);
  }
  std::fputc('\n', out);
}

}  // namespace tonalis
