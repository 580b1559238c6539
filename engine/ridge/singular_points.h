#pragma once
// Singular points of the ridge flow: cores (Poincare index +1), whorl centres
// (+2) and deltas (-1). Detection works on the block direction grid; location
// places each cluster of detections at pixel precision on the orientation map
// and gives it a direction.
#include <cstdint>

#include "engine/feature_set.h"

namespace vorsensor {

constexpr int32_t kSingularOther = 0;  // any other nonzero index
constexpr int32_t kSingularCore = 1;   // index +1
constexpr int32_t kSingularWhorl = 2;  // index +2
constexpr int32_t kSingularDelta = 3;  // index -1
constexpr uint8_t kNoSingularDirection = 255;

// A list of up to kMaxSingularPoints records: the pipeline's detection list
// (block coordinates, direction 255).
struct SingularPointList {
  int32_t count;
  SingularPoint points[kMaxSingularPoints];
};

// Poincare index, in half turns, of `n` orientations 0..119 forming a closed
// ring; 0 when two consecutive orientations are exactly 60 apart (ambiguous).
int32_t RingIndex(int32_t n, const uint8_t* values);

// Scans block rows 2..bh-3 and columns 2..bw-3 and appends a record for every
// block whose rings of neighbours have a nonzero index. Keeps the first
// kMaxSingularPoints in scan order; returns the count.
int32_t DetectSingularPoints(int32_t bw, int32_t bh, const uint8_t* const* directionGrid, SingularPointList* list);

// 1 when some point of the list lies strictly within `radius` of (x, y), else 0.
int32_t NearSingularPoint(const SingularPoint* points, int32_t count, int32_t x, int32_t y, int32_t radius);

// Sum over the (2r+1)^2 window about (x, y) of the folded orientation
// differences to the centre; 0 when the centre has no orientation. Window
// pixels outside the w x h map count as having none.
uint32_t OrientationDisorder(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                             int32_t r);

// Direction 0..239 from (x, y) along the ray of radius R on which the ridges
// run most nearly along the ray; 255 when R is 0.
uint8_t SingularDirection(int32_t w, int32_t h, const uint8_t* const* orientationMap, int32_t x, int32_t y,
                          int32_t radius);

// Clusters the detections, places each single-kind cluster at the pixel of
// greatest orientation disorder and gives it its direction. Writes at most
// `detected.count` records to `located` and returns their count.
int32_t LocateSingularPoints(int32_t w, int32_t h, const uint8_t* const* orientationMap,
                             const SingularPointList& detected, SingularPoint* located, uint32_t locateRadius,
                             uint32_t directionRadius);

}  // namespace vorsensor
