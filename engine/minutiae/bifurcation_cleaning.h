#pragma once
// Bifurcation cleaning: thinning leaves false bifurcations at small closed
// loops, little triangles of three bifurcations and short bridges between
// neighbouring ridges or at ridge crossings. For every bifurcation in the
// foreground the stage traces its three branches, recognises these shapes and
// edits the skeleton so that they no longer produce bifurcations.
#include <cstdint>

#include "engine/simd_level.h"

namespace vorsensor {

constexpr int32_t kBranchPointsMax = 30;  // points per traced branch
constexpr int32_t kForkBranches = 3;
constexpr uint8_t kNoForkAngle = 255;     // pair angles of a trace with fewer than three branches

// How a branch walk ended.
enum BranchStatus : int32_t {
  kBranchStopped = -1,   // ring count 3 or more, or the border margin
  kBranchRidgeEnd = 0,   // a pixel with ring count 0
  kBranchRanFull = 1,    // the walk made kBranchPointsMax steps
  kBranchMeets = 2,      // another bifurcation, or a point of an earlier branch
};

struct TracedBranch {
  int32_t x[kBranchPointsMax];  // point 0 is the start pixel
  int32_t y[kBranchPointsMax];
  int32_t length;               // points listed
  int32_t status;               // BranchStatus
  uint8_t direction;            // from the start to the last point, 255 when not found
};

struct BranchTrace {
  int32_t x0;
  int32_t y0;
  int32_t count;  // branches found, 0..3
  TracedBranch branch[kForkBranches];
  uint8_t angle01;  // folded angles between branch directions, kNoForkAngle unless count is 3
  uint8_t angle12;
  uint8_t angle02;
};

struct BifurcationCleaningParameters {
  int32_t branchTraceMax;   // most points per branch (at most kBranchPointsMax is used)
  int32_t teeWideAngle;
  int32_t spreadWideAngle;
  int32_t teeSideHigh;
  int32_t teeSideLow;
  int32_t spreadSideLow;
  int32_t branchShortLen;
  int32_t bridgeMaxLen;
  int32_t crossMaxLen;
  int32_t branchKeepLen;
  int32_t crossAngleMax;
};

// Traces the three branches of the bifurcation (x0, y0), each for at most
// maxSteps points (capped at kBranchPointsMax), erasing as it walks. With
// restore 0 every traced point is left erased, with restore 1 every one is
// drawn again. Corner neighbours that a walk sets aside at its first step are
// always put back before the next branch starts.
void TraceBranches(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x0, int32_t y0, BranchTrace* trace,
                   int32_t restore, int32_t maxSteps);

constexpr int32_t kTeeShape = 1;     // a ridge running straight through, a branch at about a right angle
constexpr int32_t kSpreadFork = 2;   // three branches spread apart
constexpr int32_t kOtherShape = -1;

// The shape of a traced bifurcation from its pair angles.
int32_t ForkShape(const BranchTrace& trace, int32_t teeWideAngle, int32_t spreadWideAngle, int32_t teeSideHigh,
                  int32_t teeSideLow, int32_t spreadSideLow);

// Cleans the bifurcations of the w x h skeleton in place, visiting the
// foreground pixels (orientation map below 128) at least 21 pixels from the
// border. Needs no memory beyond two traces on the stack. `level` picks how
// bifurcations are found (NextOddCrossing); every level gives the same skeleton.
void CleanBifurcations(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                       const BifurcationCleaningParameters& parameters, SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
