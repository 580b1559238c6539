#pragma once
// Comparison protocols: which pairs of images of a set are compared.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "evaluation/image_set.h"

namespace vorsensor::evaluation {

enum class Protocol {
  kFvc,       // genuine: every two impressions of a finger; impostor: first impressions of different fingers
  kAllPairs,  // every two images of the set
};

// One comparison: `probe` is prepared and `reference` matched against it, as
// a new capture is verified against a stored template. Indices into the set's
// images; the probe is always the later image of the two.
struct Comparison {
  int32_t reference;
  int32_t probe;
  bool genuine;
};

// The comparisons of `set` under `protocol`: genuine pairs first (finger by
// finger, by impression), then impostor pairs, each pair once.
std::vector<Comparison> MakeComparisons(const ImageSet& set, Protocol protocol);

// "fvc" or "all-pairs", and back.
const char* ProtocolName(Protocol protocol);
std::optional<Protocol> ParseProtocol(const std::string& name);

}  // namespace vorsensor::evaluation
