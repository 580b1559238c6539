// The FVC protocol and the all-pairs protocol.
#include "evaluation/protocol.h"

namespace vorsensor::evaluation {
namespace {

// The positions of the images of each finger, in impression order.
std::vector<std::vector<int32_t>> ImagesByFinger(const ImageSet& set) {
  std::vector<std::vector<int32_t>> byFinger(set.fingers.size());
  for (size_t i = 0; i < set.images.size(); ++i) {
    byFinger[static_cast<size_t>(set.images[i].finger)].push_back(static_cast<int32_t>(i));
  }
  return byFinger;
}

}  // namespace

std::vector<Comparison> MakeComparisons(const ImageSet& set, Protocol protocol) {
  std::vector<Comparison> comparisons;
  const std::vector<std::vector<int32_t>> byFinger = ImagesByFinger(set);
  if (protocol == Protocol::kAllPairs) {
    for (size_t i = 0; i < set.images.size(); ++i) {
      for (size_t j = i + 1; j < set.images.size(); ++j) {
        if (set.images[i].finger == set.images[j].finger) {
          comparisons.push_back({static_cast<int32_t>(i), static_cast<int32_t>(j), true});
        }
      }
    }
    for (size_t i = 0; i < set.images.size(); ++i) {
      for (size_t j = i + 1; j < set.images.size(); ++j) {
        if (set.images[i].finger != set.images[j].finger) {
          comparisons.push_back({static_cast<int32_t>(i), static_cast<int32_t>(j), false});
        }
      }
    }
    return comparisons;
  }
  for (const std::vector<int32_t>& finger : byFinger) {
    for (size_t i = 0; i < finger.size(); ++i) {
      for (size_t j = i + 1; j < finger.size(); ++j) comparisons.push_back({finger[i], finger[j], true});
    }
  }
  for (size_t a = 0; a < byFinger.size(); ++a) {
    for (size_t b = a + 1; b < byFinger.size(); ++b) {
      if (byFinger[a].empty() || byFinger[b].empty()) continue;
      comparisons.push_back({byFinger[a].front(), byFinger[b].front(), false});
    }
  }
  return comparisons;
}

const char* ProtocolName(Protocol protocol) { return protocol == Protocol::kFvc ? "fvc" : "all-pairs"; }

std::optional<Protocol> ParseProtocol(const std::string& name) {
  if (name == "fvc") return Protocol::kFvc;
  if (name == "all-pairs") return Protocol::kAllPairs;
  return std::nullopt;
}

}  // namespace vorsensor::evaluation
