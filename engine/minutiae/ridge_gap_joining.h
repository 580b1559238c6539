#pragma once
// Ridge gap joining: a ridge broken into two pieces leaves two endings that
// face each other across a small gap. For each ending in the foreground the
// stage looks for such a partner nearby and draws the missing piece of ridge
// as a one-pixel line, so that neither ending reaches the minutiae scan.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

// Joins gaps in the w x h skeleton in place. Endings A are taken where the
// orientation map is below 128 (foreground); the partner B is the first
// ending, rows first, in the square of half size joinRadius round A that is
// not cut off from A by a ridge pixel and whose line from A runs at least
// joinAngleMin from A's own direction, with B's direction at least
// joinAngleMin from the reversed line. Directions come from ending traces of
// joinTraceMax steps that need joinTraceMin. Returns kOk or kOutOfMemory
// (skeleton unchanged). `level` picks how endings are found (NextOddCrossing);
// every level gives the same skeleton.
int32_t JoinGaps(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                 int32_t joinTraceMax, int32_t joinTraceMin, int32_t joinRadius, int32_t joinAngleMin,
                 SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
