#pragma once
// The stages of a comparison that work on pair correspondences: the search
// for corresponding pairs with its rotation vote (stage 1), the choice of the
// rotation, the shift vote over the turned sample (stage 2), the choice of
// the shift, and the fit test after the shift.
#include <cstdint>

#include "matching/match_parameters.h"
#include "matching/match_state.h"

namespace vorsensor {

// Stage 1: fills the workspace's correspondence list and rotation histogram
// and sets *total to the sum, over probe pairs, of each one's best
// correspondence score. kOk or kOutOfMemory.
int32_t FindCorrespondences(MatchWorkspace* workspace, const PreparedSet& probe,
                            const PreparedSet& sample, const MatchParameters& parameters,
                            int64_t* total);

// The score stage 1 gives a pair correspondence before the type, spread and
// density factors (dd, dk, de: distance and angle differences).
int32_t BasePairScore(int32_t dd, int32_t dk, int32_t de, const MatchParameters& parameters);

// Smooths the rotation histogram (9 bins round each) into
// workspace->smoothedRotation and returns the first allowed rotation with the
// greatest smoothed sum (refined mode moves it to the weighted centre).
int32_t ChooseRotation(MatchWorkspace* workspace, const MatchParameters& parameters);

// Stage 2 over the turned sample: fills the consistent list and both shift
// histograms; *total is the sum of the best score of each run of consistent
// correspondences sharing a probe pair. Range of voted bins per axis in
// `rangeX`/`rangeY` (least, greatest; 4095, 0 when none). kOk or kOutOfMemory.
int32_t VoteShifts(MatchWorkspace* workspace, const PreparedSet& probe, const PreparedSet& sample,
                   const MatchParameters& parameters, int64_t* total, int32_t rangeX[2],
                   int32_t rangeY[2]);

// The shift of one axis from its histogram and range of voted bins; 0 when no
// bin carries weight. `sums` (kShiftBins entries) receives the window sums.
int32_t ChooseShift(const int32_t* histogram, const int32_t range[2], bool refined, int32_t* sums);

// Keeps, in order, the consistent correspondences whose two minutia pairs lie
// within the distance tolerance in x and y after the shift. kOk or kOutOfMemory.
int32_t FitCorrespondences(MatchWorkspace* workspace, const PreparedSet& probe,
                           const PreparedSet& sample, const MatchParameters& parameters);

}  // namespace vorsensor
