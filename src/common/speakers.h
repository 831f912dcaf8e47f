// Speaker positions of interleaved channels, as bits of a channel mask. The bits and their
// meaning are those of WAVEFORMATEXTENSIBLE's dwChannelMask, so a Windows mask passes through
// unchanged and other systems map their positions onto it. Channels are interleaved in the
// order of their bits, lowest first. 0 means the layout is unknown.
#pragma once

#include <cstdint>

namespace tonalis::speaker {

inline constexpr uint32_t FrontLeft = 0x1;
inline constexpr uint32_t FrontRight = 0x2;
inline constexpr uint32_t FrontCenter = 0x4;
inline constexpr uint32_t LowFrequency = 0x8;
inline constexpr uint32_t BackLeft = 0x10;
inline constexpr uint32_t BackRight = 0x20;
inline constexpr uint32_t FrontLeftOfCenter = 0x40;
inline constexpr uint32_t FrontRightOfCenter = 0x80;
inline constexpr uint32_t BackCenter = 0x100;
inline constexpr uint32_t SideLeft = 0x200;
inline constexpr uint32_t SideRight = 0x400;
inline constexpr uint32_t TopCenter = 0x800;
inline constexpr uint32_t TopFrontLeft = 0x1000;
inline constexpr uint32_t TopFrontCenter = 0x2000;
inline constexpr uint32_t TopFrontRight = 0x4000;
inline constexpr uint32_t TopBackLeft = 0x8000;
inline constexpr uint32_t TopBackCenter = 0x10000;
inline constexpr uint32_t TopBackRight = 0x20000;
// Every position bit there is; higher bits (Windows' "all" and reserved ones) name none.
inline constexpr uint32_t AllPositions = 0x3FFFF;

inline constexpr uint32_t Mono = FrontCenter;
inline constexpr uint32_t Stereo = FrontLeft | FrontRight;
inline constexpr uint32_t Surround51 = Stereo | FrontCenter | LowFrequency | BackLeft | BackRight;  // 0x3F
inline constexpr uint32_t Surround71 = Stereo | FrontCenter | LowFrequency | BackLeft | BackRight |
                                       SideLeft | SideRight;  // 0x63F

// The layout a device of `channels` channels has when it does not say: the usual one for
// that count (3: FL FR FC; 4: FL FR BL BR; 5: FL FR FC BL BR; 6: 5.1; 7: 5.1 + BC; 8: 7.1),
// 0 above 8 channels.
constexpr uint32_t defaultChannelMask(uint32_t channels) {
  switch (channels) {
    case 1: return Mono;
    case 2: return Stereo;
    case 3: return Stereo | FrontCenter;
    case 4: return Stereo | BackLeft | BackRight;
    case 5: return Stereo | FrontCenter | BackLeft | BackRight;
    case 6: return Surround51;
    case 7: return Surround51 | BackCenter;
    case 8: return Surround71;
    default: return 0;
  }
}

}  // namespace tonalis::speaker
