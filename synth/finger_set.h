#pragma once
// A set of synthetic fingers made from one seed: which pattern each finger
// has, the seeds of its master and impressions, and a contact sheet to look
// at a whole set at once.
#include <cstdint>
#include <vector>

#include "imageio/grey_image.h"
#include "synth/impression.h"
#include "synth/master_fingerprint.h"
#include "synth/pattern_model.h"

namespace vorsensor::synth {

// Fingers cycle through all five classes: left loop, right loop, whorl, arch,
// tented arch, then again (so any five consecutive fingers cover them all).
PatternClass PatternOfFinger(int32_t finger);
uint64_t FingerSeed(uint64_t setSeed, int32_t finger);
uint64_t ImpressionSeed(uint64_t setSeed, int32_t finger, int32_t impression);

// One finger of a set: its master and its first `impressions` impressions,
// exactly as `vorsensor synth` writes them.
struct SynthFinger {
  PatternClass pattern = PatternClass::kArch;
  MasterFingerprint master;
  std::vector<Impression> impressions;
};
SynthFinger MakeFinger(uint64_t setSeed, int32_t finger, int32_t impressions,
                       const ImpressionOptions& options = ImpressionOptions{});

// Images laid out in rows of `columns` with `gap` white pixels between them,
// each in a cell as large as the largest image.
imageio::GreyImage ContactSheet(const std::vector<imageio::GreyImage>& images, int32_t columns, int32_t gap);

}  // namespace vorsensor::synth
