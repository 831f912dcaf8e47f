// tonalis-render: what the program would show for a recording. Reads a WAV file of any
// common format, converts it as a sound source's stream is converted (mono, 65 536 Hz),
// feeds it through the capture ring block by block and runs the analysis every --hop samples, writing one CSV row per frame to stdout, or, with --png,
// drawing each frame with the program's renderers into a PNG file.
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
#include "png_frames.h"

namespace tonalis {
namespace {

constexpr const char* Usage =
    "usage: tonalis-render [--hop N] [--line] FILE.wav\n"
    "       tonalis-render --png DIR [--style 1..6] [--theme 1..5] [--transparency 0..6]\n"
    "                      [--scale 1..4] [--hop N] FILE.wav\n"
    "       tonalis-render --png DIR --mode fullscreen|desktop [--screen WxH] [--position 0..3]\n"
    "                      [--style 1..6] [--theme 1..5] [--transparency 0..6] [--hop N] FILE.wav\n"
    "  FILE.wav   PCM 16, 24 or 32-bit integer or 32-bit float, any channel count (mixed\n"
    "             to mono) and rate from 1000 to 768000 Hz (resampled to 65536 Hz)\n"
    "  --hop N    samples at 65536 Hz between analyses (default 1835, 28 ms); frame k is analysed\n"
    "             after the block ending at ceil(k*N/256)*256\n"
    "  --line     also write the 429 per-bin line values s0..s428\n"
    "CSV on stdout: end,b0..b23[,s0..s428], one row per frame (end in samples at 65536 Hz).\n"
    "  --png DIR  instead of CSV, draw every frame through the band animation and the\n"
    "             window renderer (or, with --mode, the full-screen / desktop strip) into\n"
    "             DIR/frame_000000.png, ...; defaults: style 1, theme 1, transparency 0,\n"
    "             screen 1920x1080, position 0. The readout shows the hop in ms.\n"
    "  --scale F  the window as a screen of that scale shows it (1.25, 1.5, 2 ...; default 1)\n";

// Every option of the tool; parseArguments is the one place that fills it.
struct Options {
  std::string input;
  int64_t hop = DefaultHopSamples;
  bool line = false;
  bool help = false;
  std::optional<PngOptions> png;  // set by --png
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

bool parseInRange(std::optional<std::string_view> text, int32_t lo, int32_t hi, int32_t& out) {
  int64_t v = 0;
  if (!text || !parseCount(*text, v) || v < lo || v > hi) return false;
  out = int32_t(v);
  return true;
}

// A scale factor from 1 to 4 written as a decimal ("2", "1.5", "1.25"), as a percentage.
bool parseScale(std::optional<std::string_view> text, int32_t& percent) {
  if (!text || text->empty() || text->size() > 8) return false;
  int32_t whole = 0, hundredths = 0, fractionDigits = 0;
  bool point = false;
  for (char c : *text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9' && !point) {
      whole = whole * 10 + (c - '0');
    } else if (c >= '0' && c <= '9' && fractionDigits < 2) {
      hundredths = hundredths * 10 + (c - '0');
      ++fractionDigits;
    } else {
      return false;
    }
  }
  if (fractionDigits == 1) hundredths *= 10;
  const int32_t p = whole * 100 + hundredths;
  if (p < MinScalePercent || p > MaxScalePercent) return false;
  percent = p;
  return true;
}

// "WxH" with each side 1..16384.
bool parseScreen(std::optional<std::string_view> text, int32_t& w, int32_t& h) {
  if (!text) return false;
  const size_t x = text->find('x');
  if (x == std::string_view::npos) return false;
  return parseInRange(text->substr(0, x), 1, 16384, w) && parseInRange(text->substr(x + 1), 1, 16384, h);
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
    } else if (arg == "--png") {
      const auto v = value();
      if (!v || v->empty()) return std::string("--png needs a folder");
      if (!options.png) options.png.emplace();
      options.png->dir = std::string(*v);
    } else if (arg == "--style" || arg == "--theme" || arg == "--transparency" || arg == "--position" ||
               arg == "--mode" || arg == "--screen" || arg == "--scale") {
      if (!options.png) options.png.emplace();
      PngOptions& png = *options.png;
      const auto v = value();
      if (arg == "--style" && !parseInRange(v, 1, 6, png.style)) {
        return std::string("--style needs 1..6");
      } else if (arg == "--theme" && !parseInRange(v, 1, 5, png.theme)) {
        return std::string("--theme needs 1..5");
      } else if (arg == "--transparency" && !parseInRange(v, 0, 6, png.transparency)) {
        return std::string("--transparency needs 0..6");
      } else if (arg == "--position" && !parseInRange(v, 0, 3, png.position)) {
        return std::string("--position needs 0..3");
      } else if (arg == "--scale" && !parseScale(v, png.scalePercent)) {
        return std::string("--scale needs a factor from 1 to 4, e.g. 1.5 or 2");
      } else if (arg == "--screen" && !parseScreen(v, png.screenWidth, png.screenHeight)) {
        return std::string("--screen needs WxH, e.g. 1920x1080");
      } else if (arg == "--mode") {
        if (v == "fullscreen") png.mode = DisplayMode::FullScreen;
        else if (v == "desktop") png.mode = DisplayMode::Desktop;
        else if (v == "window") png.mode = DisplayMode::Window;
        else return std::string("--mode needs fullscreen, desktop or window");
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
  if (options.png && options.png->dir.empty()) {
    return std::string("--style, --theme, --transparency, --mode, --screen, --position and --scale need --png");
  }
  if (options.png && options.line) {
    return std::string("--line is for the CSV output, not --png");
  }
  if (options.png) {
    // The readout shows the frame interval the hop stands for.
    options.png->frameMillis = uint32_t((options.hop * 1000 + CaptureSampleRate / 2) / CaptureSampleRate);
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
  const WavAudio wav = parseWav(bytes);
  if (!wav.ok) {
    std::fprintf(stderr, "tonalis-render: %s: %s\n", options.input.c_str(), wav.error.c_str());
    return 1;
  }
  if (options.png) {
    PngFrameWriter writer(*options.png);
    if (!writer.open(error)) {
      std::fprintf(stderr, "tonalis-render: %s\n", error.c_str());
      return 1;
    }
    bool ok = true;
    forEachAnalysisFrame(wav.format, wav.frames.data(), wav.frameCount, options.hop,
                         [&](int64_t, const SpectrumFrame& frame, std::span<const float, AnalysisSize>) {
                           ok = writer.write(frame, error);
                           return ok;
                         });
    if (!ok) {
      std::fprintf(stderr, "tonalis-render: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "tonalis-render: %lld frames in %s\n",
                 static_cast<long long>(writer.framesWritten()), options.png->dir.c_str());
    return 0;
  }
  writeCsvHeader(stdout, options.line);
  forEachAnalysisFrame(wav.format, wav.frames.data(), wav.frameCount, options.hop,
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
