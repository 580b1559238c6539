#pragma once
// The minutiae scan: walks the cleaned skeleton and lists every ridge ending
// and bifurcation in the foreground with its direction, the spread of ridge
// orientation round it and the local ridge density.
#include <cstdint>

#include "engine/feature_set.h"
#include "engine/minutiae/tracing_primitives.h"

namespace vorsensor {

// Direction of the bifurcation at (x, y): the bisector of its two closest
// branches, each followed for at most maxSteps steps; kNoTraceDirection when
// a branch makes fewer than minSteps steps, when the two closest branches
// leave in the same direction or when no two branches are 60 or more apart.
// `scratch` needs ForkDirectionRoom(w, h, maxSteps) entries. The skeleton is
// left as it was found.
uint8_t ForkDirection(int32_t w, int32_t h, uint8_t* const* skeleton, int32_t x, int32_t y, int32_t maxSteps,
                      int32_t minSteps, TraceList* scratch);
int32_t ForkDirectionRoom(int32_t w, int32_t h, int32_t maxSteps);

// A bifurcation's direction from its three branch directions: the circular
// mean of the narrowest pair (the first of equally narrow ones among (d2, d1),
// (d1, d0), (d2, d0)); kNoTraceDirection when that pair's angle is 0 or the
// widest pair's is below 60.
uint8_t CombineBranchDirections(int32_t d0, int32_t d1, int32_t d2);

// How much the ridge orientation in the square of half size `radius` round
// (x, y) differs from the orientation at (x, y): 0 the same everywhere, 255
// everywhere at right angles; 0 when (x, y) has no orientation.
uint8_t OrientationSpread(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                          int32_t radius);

// Lists the endings (type 1) and bifurcations (type 2) of the foreground of
// rows and columns 2..size-3 into records[0..*count), at most kMaxMinutiae,
// ending the scan when the list is full. Minutiae without a direction are
// listed with direction 255. The spread is kNoSpread when spreadRadius is
// negative, the density kNoDensity when densityCopy is null. The skeleton is
// left as it was found. Returns kOk or kOutOfMemory (nothing listed).
// `level` picks how candidates are found (NextOddCrossing); every level
// gives the same list.
int32_t ScanMinutiae(int32_t w, int32_t h, uint8_t* const* skeleton, const uint8_t* const* orientationMap,
                     const uint8_t* const* densityCopy, Minutia* records, int32_t* count, int32_t endTraceMax,
                     int32_t endTraceMin, int32_t forkBranchMin, int32_t spreadRadius,
                     SimdLevel level = MachineSimdLevel());

}  // namespace vorsensor
