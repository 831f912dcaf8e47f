// Reads board reports and prints what the board would show: the 24 column heights (0..17)
// of a levels report, or HH:MM of a clock report. Handy with a capture of the USB traffic
// or the output of a board simulator.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "board/board_report.h"

namespace {

using tonalis::BandCount;
using tonalis::BoardReportSize;
using tonalis::CellRows;
using tonalis::DecodedBoardReport;

int usage() {
  std::fprintf(stderr,
               "usage: tonalis-board-monitor [--picture] FILE\n"
               "       tonalis-board-monitor [--picture] --hex [FILE]\n"
               "FILE holds 65-byte reports back to back; with --hex, one report per line\n"
               "as hex digits (spaces, ':' and '-' ignored, '#' starts a comment), read from\n"
               "standard input when no FILE is given.\n");
  return 2;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of one hex line; nullopt when it holds anything but hex digit pairs.
std::optional<std::vector<uint8_t>> parseHexLine(const std::string& line) {
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : line) {
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r' || c == ':' || c == '-' || c == ',') continue;
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(uint8_t(high * 16 + d));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

class Printer {
 public:
  explicit Printer(bool picture) : picture_(picture) {}

  void report(const uint8_t* bytes, size_t size) {
    ++count_;
    const DecodedBoardReport d = tonalis::decodeBoardReport(bytes, size);
    switch (d.kind) {
      case DecodedBoardReport::Kind::Levels:
        levels(d);
        break;
      case DecodedBoardReport::Kind::Clock:
        std::printf("%6zu clock  %02u:%02u\n", count_, unsigned(d.hour), unsigned(d.minute));
        break;
      case DecodedBoardReport::Kind::Invalid:
        invalid("not a board report (length, report id, signature or type)");
        break;
    }
  }

  void invalid(const char* why) {
    ++invalid_;
    std::printf("%6zu invalid: %s\n", count_, why);
  }
  void bump() { ++count_; }
  bool anyInvalid() const { return invalid_ > 0; }

 private:
  void levels(const DecodedBoardReport& d) {
    std::printf("%6zu levels", count_);
    for (int band = 0; band < BandCount; ++band) std::printf(" %2u", unsigned(d.levels[size_t(band)]));
    std::printf("\n");
    if (!picture_) return;
    for (int row = CellRows; row >= 1; --row) {
      std::printf("       ");
      for (int band = 0; band < BandCount; ++band) {
        std::printf(" %s", d.levels[size_t(band)] >= row ? "##" : " .");
      }
      std::printf("\n");
    }
  }

  bool picture_;
  size_t count_ = 0;
  size_t invalid_ = 0;
};

int readBinary(std::istream& in, Printer& out) {
  std::vector<char> buffer(BoardReportSize);
  while (true) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    const auto got = size_t(in.gcount());
    if (got == BoardReportSize) {
      out.report(reinterpret_cast<const uint8_t*>(buffer.data()), got);
    } else {
      if (got != 0) {
        out.bump();
        out.invalid("stream ends inside a report");
      }
      break;
    }
  }
  return out.anyInvalid() ? 1 : 0;
}

int readHex(std::istream& in, Printer& out) {
  std::string line;
  while (std::getline(in, line)) {
    const auto bytes = parseHexLine(line);
    if (!bytes) {
      out.bump();
      out.invalid("line is not hex byte pairs");
      continue;
    }
    if (bytes->empty()) continue;  // blank or comment line
    out.report(bytes->data(), bytes->size());
  }
  return out.anyInvalid() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool picture = false;
  bool hex = false;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--picture") == 0) {
      picture = true;
    } else if (std::strcmp(argv[i], "--hex") == 0) {
      hex = true;
    } else if (argv[i][0] == '-' || file != nullptr) {
      return usage();
    } else {
      file = argv[i];
    }
  }
  if (!hex && file == nullptr) return usage();

  Printer printer(picture);
  if (file == nullptr) return readHex(std::cin, printer);
  std::ifstream in(file, hex ? std::ios::in : std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tonalis-board-monitor: cannot open %s\n", file);
    return 2;
  }
  return hex ? readHex(in, printer) : readBinary(in, printer);
}
