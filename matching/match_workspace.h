#pragma once
// The match workspace (the matcher's per-caller working memory) and the match
// details record that a comparison can fill.
//
// A workspace is opaque to its users: create it, hand it to the entry points
// of matching/matcher.h, free it. It belongs to one caller at a time. All its
// growable arrays keep their memory between comparisons, so a run of
// comparisons against one prepared probe allocates nothing once warmed up.
#include <cstddef>
#include <cstdint>

namespace vorsensor {

struct MatchWorkspace;

// A new zero-filled workspace, or null when memory is short.
MatchWorkspace* CreateMatchWorkspace();
// Releases the slots' pair tables and buckets, the shared scratch arrays and
// the block. Accepts null.
void FreeMatchWorkspace(MatchWorkspace* workspace);
// Bytes held by the workspace (block plus every growable array's capacity).
size_t MatchWorkspaceBytes(const MatchWorkspace* workspace);

// Match details: an optional output record whose first field (its size)
// chooses how much is filled. The three accepted sizes are exactly the sizes
// of the three structures below; they are written field by field (unaligned
// buffers are fine). Entry points take the buffer together with its capacity
// in bytes and refuse (kOutOfRange) a size field that is not one of the three
// or larger than the capacity, so a wrong size field never writes past the
// caller's buffer.
constexpr uint32_t kDetailsShortSize = 20;
constexpr uint32_t kDetailsIndexedSize = 4120;
constexpr uint32_t kDetailsFullSize = 20132;
constexpr int32_t kDetailsMaxPairs = 1024;    // index list length
constexpr int32_t kDetailsMaxEntries = 1000;  // correspondence entries

struct MatchDetails {  // size 20
  uint32_t size;
  int32_t score;
  int32_t rotation;  // direction units added to the sample
  int32_t shiftX;
  int32_t shiftY;
};

struct MatchDetailsIndexed {  // size 4120
  MatchDetails head;
  uint32_t pairCount;  // at most kDetailsMaxPairs
  uint16_t probeIndices[kDetailsMaxPairs];
  uint16_t sampleIndices[kDetailsMaxPairs];
};

struct MatchDetailsEntry {  // 16 bytes, one selected correspondence
  uint16_t probeFirst;
  uint16_t probeSecond;
  uint16_t sampleFirst;
  uint16_t sampleSecond;
  uint8_t score;
  uint8_t firstTypesEqual;
  uint8_t secondTypesEqual;
  uint8_t firstSpreadDifference;
  uint8_t secondSpreadDifference;
  uint8_t firstDensityDifference;
  uint8_t secondDensityDifference;
  uint8_t spare;
};

struct MatchDetailsFull {  // size 20132
  MatchDetailsIndexed indexed;
  uint32_t entryCount;  // at most kDetailsMaxEntries
  MatchDetailsEntry entries[kDetailsMaxEntries];
  int32_t gridSimilarity;  // per mille
  uint8_t densityByteDifference;
  uint8_t spare[3];
};

static_assert(sizeof(MatchDetails) == kDetailsShortSize, "short details layout");
static_assert(sizeof(MatchDetailsIndexed) == kDetailsIndexedSize, "indexed details layout");
static_assert(sizeof(MatchDetailsEntry) == 16, "details entry layout");
static_assert(sizeof(MatchDetailsFull) == kDetailsFullSize, "full details layout");

}  // namespace vorsensor
