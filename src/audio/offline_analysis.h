// The program's analysis run over a recording instead of the live device: samples go
// through a ring of 256-sample blocks as in the program (16-bit samples as they are; any
// other format through the converter a sound source feeds), and the analysis runs at a
// fixed hop, as the 28 ms frame timer would.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "audio/analysis.h"
#include "audio/sound_converter.h"

namespace tonalis {

inline constexpr int64_t DefaultHopSamples = 1835;  // 28 ms at 65 536 Hz

// End (exclusive, in samples from the start of the recording) of the block after which
// frame k (k = 1, 2, ...) is analysed: k * hop rounded up to a whole block.
int64_t frameEnd(int64_t k, int64_t hop);

// Called per frame with its end and the analysis of samples end-2048 .. end-1 (zeros
// before the start). `samples` holds the gathered 2048 samples; return false to stop.
using FrameCallback =
    std::function<bool(int64_t end, const SpectrumFrame& frame, std::span<const float, AnalysisSize> samples)>;

// Runs every frame whose end lies within the recording (a final partial block is never
// analysed), in order. hop must be >= 1. Returns the number of frames delivered.
int64_t forEachAnalysisFrame(std::span<const int16_t> samples, int64_t hop, const FrameCallback& onFrame);

// The same for `frameCount` interleaved frames of `format` at `frames`, mixed and resampled
// to the ring's 65 536 Hz mono by SoundConverter; `end` counts samples at 65 536 Hz. A mono
// 16-bit recording at 65 536 Hz gives exactly the frames of the overload above. Returns -1
// (and calls nothing) for a format the converter does not take.
int64_t forEachAnalysisFrame(const StreamFormat& format, const uint8_t* frames, size_t frameCount, int64_t hop,
                             const FrameCallback& onFrame);

}  // namespace tonalis
