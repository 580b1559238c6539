#pragma once
// The block map code: the compact row-by-row form of a feature set's block
// direction grid inside a template record.
//
// Cell values: 255 background, 0..119 block orientation, 120..254 other (kept
// only as 127). Each row starts with the reference value 126. Codes:
//   0..127          one cell (126 = background); the byte becomes the reference
//   0x80 + k        k + 1 cells equal to the reference (background when it is 126)
//   0xA0 + k        k + 1 bytes, each two cells given as nibble - 8 added to the
//                   reference and wrapped into 0..119; each cell becomes the reference
//   0xC0 + k (k>0)  k + 1 background cells; the reference becomes 126
//   0xC0            the rest of the row is background
//   0xE0 + k (k>0)  the rest of the row and the next k rows are background
//   0xE0            the rest of the grid is background
// The writer never lets a code reach past the end of its row or of the grid;
// the reader rejects codes that do.
#include <cstdint>

#include "engine/feature_set.h"
#include "engine/record_bytes.h"

namespace vorsensor {

constexpr uint8_t kBlockMapRowStart = 126;      // reference at each row start; literal for background
constexpr uint8_t kBlockMapOtherValue = 127;    // literal for cells 120..254
constexpr uint8_t kBlockMapRepeat = 0x80;       // + (count - 1): repeat the reference
constexpr uint8_t kBlockMapDeltaPairs = 0xA0;   // + (pairs - 1): nibble pairs of differences
constexpr uint8_t kBlockMapBackground = 0xC0;   // + (count - 1), or alone: rest of the row
constexpr uint8_t kBlockMapSkipRows = 0xE0;     // + rows, or alone: rest of the grid
constexpr uint8_t kBlockMapCountMask = 0x1F;
constexpr int32_t kBlockMapMaxRepeat = 32;      // cells per repeat or background code
constexpr int32_t kBlockMapMaxPairs = 32;       // pairs per difference code
constexpr int32_t kBlockMapMaxSkip = 31;        // rows per skip code
constexpr int32_t kOrientationLimit = 120;      // cell values below this are orientations

using GridRows = uint8_t[kMaxGridSide];

// Codes `count` cells, all below 120, that follow a cell coded as `reference`:
// repeats of the reference, then difference pairs, then literals, whichever
// applies first at each position. Returns the new reference (the last value).
uint8_t EncodeBlockRun(uint8_t reference, const uint8_t* values, int32_t count, RecordWriter* out);

// Codes the first `width` cells of the first `height` rows of `grid`
// (1..128 each).
void EncodeBlockMap(const GridRows* grid, int32_t width, int32_t height, RecordWriter* out);

// Sets the whole 128 x 128 `grid` to background, then reads the code of a
// `width` x `height` grid (1..128 each) from `in`. Returns kOk,
// kRecordTruncated when the bytes end first, or kMalformedRecord when a code
// reaches past its row or past the grid.
int32_t DecodeBlockMap(RecordReader* in, int32_t width, int32_t height, GridRows* grid);

}  // namespace vorsensor
