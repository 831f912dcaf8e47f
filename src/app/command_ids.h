// The program's command vocabulary: tray-menu command ids (as Command events deliver
// them) and the tray icon's id. The values are fixed: the resource script and the event
// table use the same numbers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tonalis {

inline constexpr uint32_t TrayMenuResourceId = 131;
inline constexpr uint32_t TrayIconId = 133;             // icon resource and notification id

// Top level
inline constexpr uint32_t CmdBoardConnect = 32852;      // connect / disconnect the board
inline constexpr uint32_t CmdToggleVisibility = 32780;  // hide / show the window
inline constexpr uint32_t CmdWindowMode = 32835;
inline constexpr uint32_t CmdDesktopMode = 32834;
inline constexpr uint32_t CmdFullScreenMode = 32826;
inline constexpr uint32_t CmdTopMost = 32785;
inline constexpr uint32_t CmdClickThrough = 32809;
inline constexpr uint32_t CmdAbout = 32783;            // also the Windows system menu's About item
inline constexpr uint32_t CmdStartWithSession = 32853;  // start with the user's session
inline constexpr uint32_t CmdExit = 32782;
// Full-screen position
inline constexpr uint32_t CmdPositionUpper = 32846;
inline constexpr uint32_t CmdPositionCenter = 32847;
inline constexpr uint32_t CmdPositionLower = 32848;
inline constexpr uint32_t CmdPositionStretch = 32849;
// Transparency
inline constexpr uint32_t CmdOpaque = 32798;
inline constexpr uint32_t CmdAlpha20 = 32799;
inline constexpr uint32_t CmdAlpha40 = 32800;
inline constexpr uint32_t CmdAlpha60 = 32801;
inline constexpr uint32_t CmdAlpha80 = 32802;
inline constexpr uint32_t CmdNoBackground = 32811;
inline constexpr uint32_t CmdMinimal = 32845;
// Spectrum style
inline constexpr uint32_t CmdStyleBlock = 32828;
inline constexpr uint32_t CmdStyleTopBlock = 32830;
inline constexpr uint32_t CmdStyleBar = 32807;
inline constexpr uint32_t CmdStyleFloating = 32808;
inline constexpr uint32_t CmdStyleDots = 32837;
inline constexpr uint32_t CmdStyleWaveform = 32850;
// Colour theme
inline constexpr uint32_t CmdThemeWhite = 32819;
inline constexpr uint32_t CmdThemeGreen = 32820;
inline constexpr uint32_t CmdThemeSky = 32821;
inline constexpr uint32_t CmdThemePurple = 32822;
inline constexpr uint32_t CmdThemeAutumn = 32823;

// Sound source
inline constexpr uint32_t CmdSourceDefaultInput = 32900;  // the default recording device
inline constexpr uint32_t CmdSourcePlaying = 32901;       // what the default output plays
inline constexpr uint32_t CmdSourceFirstDevice = 32910;   // one per capture device, in menu order
inline constexpr uint32_t MaxSourceDevices = 16;

// Drawing delay, one per value of FrameDelays (0, 50, 100, 150, 200, 300 ms)
inline constexpr std::array<uint32_t, 6> FrameDelayCommands{32930, 32931, 32932, 32933, 32934, 32935};

// The command of each value of a setting, indexed by (value - first value): the menu's
// check marks and the message table's value commands both read these.
inline constexpr int32_t FirstSpectrumStyle = 1;
inline constexpr std::array<uint32_t, 6> SpectrumStyleCommands{
    CmdStyleBlock, CmdStyleTopBlock, CmdStyleBar, CmdStyleFloating, CmdStyleDots, CmdStyleWaveform};
inline constexpr int32_t FirstTransparencyMode = 0;
inline constexpr std::array<uint32_t, 7> TransparencyCommands{
    CmdOpaque, CmdAlpha20, CmdAlpha40, CmdAlpha60, CmdAlpha80, CmdNoBackground, CmdMinimal};
inline constexpr int32_t FirstColorTheme = 1;
inline constexpr std::array<uint32_t, 5> ColorThemeCommands{
    CmdThemeWhite, CmdThemeGreen, CmdThemeSky, CmdThemePurple, CmdThemeAutumn};
inline constexpr int32_t FirstFullScreenPosition = 0;  // Center, Upper, Lower, Stretch
inline constexpr std::array<uint32_t, 4> FullScreenPositionCommands{
    CmdPositionCenter, CmdPositionUpper, CmdPositionLower, CmdPositionStretch};

// The command for `value` in a group, or 0 when the value is outside the group.
constexpr uint32_t commandForValue(std::span<const uint32_t> commands, int32_t first,
                                   int32_t value) {
  const int64_t index = int64_t(value) - first;
  return index >= 0 && index < int64_t(commands.size()) ? commands[size_t(index)] : 0;
}

// The value a group's command stands for, or -1 when `id` is not one of the group.
constexpr int32_t valueForCommand(std::span<const uint32_t> commands, int32_t first,
                                  uint32_t id) {
  for (size_t i = 0; i < commands.size(); ++i) {
    if (commands[i] == id) return first + int32_t(i);
  }
  return -1;
}

}  // namespace tonalis
