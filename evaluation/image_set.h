#pragma once
// Image sets: the impressions of several fingers, found in a folder by the
// FINGER_IMPRESSION.ext naming (101_1.tif) or listed by a manifest.csv.
#include <cstdint>
#include <string>
#include <vector>

namespace vorsensor::evaluation {

struct SetImage {
  std::string path;        // as opened
  std::string name;        // the file name relative to the set's folder
  int32_t finger = 0;      // index into ImageSet::fingers
  int32_t impression = 0;  // 1 or more
  int32_t dpi = 0;         // stated by the manifest; 0 when nothing is stated
};

// Images are ordered by finger and, within a finger, by impression.
struct ImageSet {
  std::string name;
  std::vector<std::string> fingers;  // the finger keys, in order
  std::vector<SetImage> images;
};

// Reads the set or sets of `folder`. With a manifest.csv (columns file,
// finger, impression, optionally dpi and set, in any order after a header
// line) the manifest lists the images, and a set column splits them into
// several sets; otherwise every image file of the folder (by extension) must
// be named FINGER_IMPRESSION.ext, and the folder is one set named after it.
// On failure returns false with `error` one line naming the folder or file
// and what is wrong. Files are only listed here, never opened (an image that
// cannot be decoded is a failure to extract, found later).
bool LoadImageSets(const std::string& folder, std::vector<ImageSet>* sets, std::string* error);

// Splits a file stem "101_1" or "f01_i1" into finger and impression; false
// when the stem does not follow the FINGER_IMPRESSION naming.
bool ParseImpressionName(const std::string& stem, std::string* finger, int32_t* impression);

}  // namespace vorsensor::evaluation
