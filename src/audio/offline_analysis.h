// The program's analysis run over a recording instead of the live device: samples go
// through the same ring in 256-sample blocks, converted by the capture loop's own code,
// and the analysis runs at a fixed hop, as the 28 ms frame timer would.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "audio/analysis.h"

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

}  // namespace tonalis
