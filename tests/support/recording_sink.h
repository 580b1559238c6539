#pragma once
// A diagnostics sink for tests: keeps every output with its key, in the order
// the extraction hands them over.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/diagnostics.h"

namespace vorsensor::testing {

class RecordingSink : public StageSink {
 public:
  struct Entry {
    std::string key;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // rows top to bottom for images
    std::string text;             // for lists and values
  };

  void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) override {
    Entry e{std::string(key), width, height, {}, {}};
    for (int32_t y = 0; y < height; ++y) e.pixels.insert(e.pixels.end(), rows[y], rows[y] + width);
    entries.push_back(std::move(e));
  }
  void Text(std::string_view key, std::string_view text) override {
    entries.push_back(Entry{std::string(key), 0, 0, {}, std::string(text)});
  }

  const Entry* Find(std::string_view key) const {
    for (const Entry& e : entries) {
      if (e.key == key) return &e;
    }
    return nullptr;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const Entry& e : entries) keys.push_back(e.key);
    return keys;
  }

  std::vector<Entry> entries;
};

}  // namespace vorsensor::testing
