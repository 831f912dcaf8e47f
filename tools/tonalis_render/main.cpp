// tonalis-render: what the program would show for a recording. Reads a mono 16-bit PCM
// WAV at 65 536 Hz, feeds it through the capture ring block by block and runs the
// analysis every --hop samples, writing one CSV row per frame to stdout.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/offline_analysis.h"
#include "audio/sample_ring.h"
#include "audio/wav_reader.h"
#include "csv_output.h"

namespace tonalis {
namespace {

constexpr const char* Usage =
    "usage: tonalis-render [--hop N] [--line] FILE.wav\n"
    "  FILE.wav   mono 16-bit PCM at 65536 Hz\n"
    "  --hop N    samples between analyses (default 1835, 28 ms); frame k is analysed\n"
    "             after the block ending at ceil(k*N/256)*256\n"
    "  --line     also write the 429 per-bin line values s0..s428\n"
    "CSV on stdout: end,b0..b23[,s0..s428], one row per frame.\n";

// Every option of the tool; parseArguments is the one place that fills it.
struct Options {
  std::string input;
  int64_t hop = DefaultHopSamples;
  bool line = false;
  bool help = false;
};

bool parseCount(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

// Returns an error message, or nothing when `options` is complete.
std::optional<std::string> parseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // Options that take a value read it here.
    const auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--line") {
      options.line = true;
    } else if (arg == "--hop") {
      const auto v = value();
      if (!v || !parseCount(*v, options.hop) || options.hop < 1 || options.hop > INT32_MAX) {
        return std::string("--hop needs a whole number of samples from 1 to 2147483647");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + std::string(arg);
    } else if (options.input.empty()) {
      options.input = std::string(arg);
    } else {
      return "more than one input file: " + std::string(arg);
    }
  }
  if (!options.help && options.input.empty()) {
    return std::string("no input file");
  }
  return std::nullopt;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

int run(const Options& options) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!readFile(options.input, bytes, error)) {
    std::fprintf(stderr, "tonalis-render: %s\n", error.c_str());
    return 1;
  }
  const WavReadResult wav = parseMonoPcm16Wav(bytes, CaptureSampleRate);
  if (!wav.ok) {
    std::fprintf(stderr, "tonalis-render: %s: %s\n", options.input.c_str(), wav.error.c_str());
    return 1;
  }
  writeCsvHeader(stdout, options.line);
  forEachAnalysisFrame(wav.samples, options.hop,
                       [&](int64_t end, const SpectrumFrame& frame, std::span<const float, AnalysisSize>) {
                         writeCsvRow(stdout, end, frame, options.line);
                         return true;
                       });
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "tonalis-render: cannot write the output\n");
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace tonalis

int main(int argc, char** argv) {
  tonalis::Options options;
  if (const auto error = tonalis::parseArguments(argc, argv, options)) {
    std::fprintf(stderr, "tonalis-render: %s\n%s", error->c_str(), tonalis::Usage);
    return 2;
  }
  if (options.help) {
    std::fputs(tonalis::Usage, stdout);
    return 0;
  }
  try {
    return tonalis::run(options);
  } catch (const std::exception& e) {  // e.g. a file too large for memory
    std::fprintf(stderr, "tonalis-render: %s\n", e.what());
    return 1;
  }
}
