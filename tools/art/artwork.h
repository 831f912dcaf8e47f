// The drawings of every bitmap of the program, one function per image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "canvas.h"

namespace art {

// Colours the images are specified in.
inline constexpr uint32_t Black = rgb(0, 0, 0);
inline constexpr uint32_t White = rgb(255, 255, 255);
inline constexpr uint32_t Cyan = rgb(0, 255, 255);
inline constexpr uint32_t Green = rgb(0, 255, 0);
inline constexpr uint32_t Grey = rgb(128, 128, 128);
inline constexpr uint32_t Orange = rgb(255, 102, 0);
inline constexpr uint32_t Violet = rgb(138, 43, 226);
inline constexpr uint32_t LightGrey = rgb(192, 192, 192);
inline constexpr uint32_t Magenta = rgb(255, 0, 255);

enum class StyleIcon { Block, TopBlock, Bar, Floating, Dots, Waveform };
enum class Indicator { Board, Pin, Pointer };

Canvas titleLabel();
Canvas captionLabel();
Canvas versionLabel();
Canvas styleIcon(StyleIcon style, bool lit);
Canvas indicatorIcon(Indicator kind, bool on);
Canvas gridIcon();
// frame 0..5 fades from the brightest triangle; -1 is the idle square.
Canvas activityImage(int frame);
Canvas scaleImage();
Canvas readoutFrame();
Canvas digitImage(int digit);

// Fonts the artwork needs; paths of installed font files.
struct FontFiles {
  std::string latinBold;  // lettering of the splash
  long latinBoldIndex = 0;
  std::string cjk;        // the About paragraph
  long cjkIndex = 0;
};
Canvas splashImage(const FontFiles& fonts);
Canvas aboutPicture(const FontFiles& fonts, const std::string& address);
// The program's icon, size x size (48 is the design size), 0xAARRGGBB, straight alpha.
std::vector<uint32_t> appIcon(int size);

}  // namespace art
