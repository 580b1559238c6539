#pragma once
// The template record: the compact little-endian byte form of a feature set.
//
// Layout: byte 0 flags (bit 0 orientation spreads, bit 1 singular points,
// bit 2 grid, bit 3 density values), byte 1 the density byte, bytes 2..4 the
// 24-bit origin ((minX + 2048) & 0xFFF) << 12 | ((minY + 2048) & 0xFFF),
// bytes 5..6 the minutia count n, then n point words (each followed by its
// spread under bit 0); under bit 1 a count byte and that many point words;
// under bit 2 width - 1, height - 1 and the block map code; under bit 3 n
// density values. Point word: dx in bits 31..21, dy in 20..10, type or kind
// (low 2 bits) in 9..8, direction in 7..0.
#include <cstddef>
#include <cstdint>

#include "engine/feature_set.h"

namespace vorsensor {

// The work buffer callers give the writer.
constexpr size_t kRecordWorkBufferSize = 2048;
// The longest record the writer can produce (1023 minutiae with both extra
// bytes, 63 singular points, a 128 x 128 grid of literals); a buffer of this
// size never gives kRecordOutputTooSmall.
constexpr size_t kMaxTemplateRecordSize = 7 + 1023 * 6 + 1 + 63 * 4 + 2 + 128 * 128;

constexpr uint8_t kRecordHasSpreads = 0x01;
constexpr uint8_t kRecordHasSingularPoints = 0x02;
constexpr uint8_t kRecordHasGrid = 0x04;
constexpr uint8_t kRecordHasDensities = 0x08;
constexpr uint8_t kRecordMaxFlags = 31;

// Writes `set` as a record into `out` (room for `capacity` bytes) and returns
// its length. kMissingArgument when a pointer is null; kOutOfRange when the
// minutia count is outside 0..1023, the singular point count outside 0..63, or
// a grid side outside 0..128; kRecordOutputTooSmall when the record is longer
// than `capacity`. On any error nothing is written. `set` is not changed.
// Points whose offsets from the origin are not both within 0..2047 are left out.
int32_t WriteTemplateRecord(const FeatureSet* set, uint8_t* out, size_t capacity);

// Reads the record in the first `length` bytes of `record` into `set` and
// returns the number of bytes it took. kMissingArgument when a pointer is null;
// kRecordTruncated when the record needs more than `length` bytes;
// kRecordGridTooLarge when a grid side is above 128; kMalformedRecord for flags
// above 31, 1024 or more minutiae, 64 or more singular points, a minutia type
// of 3 or a grid code that reaches past its row or the grid. After an error
// `set` is partly filled, but its counts and grid sizes never cover entries
// that were not read.
int32_t ReadTemplateRecord(const uint8_t* record, size_t length, FeatureSet* set);

}  // namespace vorsensor
