#pragma once
// Stage diagnostics: when a caller hands the extraction a sink, each stage
// passes its output under a stable key (see docs/diagnostics.md). With no sink
// (the normal case) every hook is a null test and nothing is built.
#include <cstdint>
#include <string>
#include <string_view>

namespace vorsensor {

class StageSink {
 public:
  virtual ~StageSink() = default;
  // An image or grid, one byte per pixel or block, `height` rows of `width`.
  virtual void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) = 0;
  // A list or a single value as text, one item per line.
  virtual void Text(std::string_view key, std::string_view text) = 0;
};

inline void DumpImage(StageSink* sink, std::string_view key, const uint8_t* const* rows, int32_t width,
                      int32_t height) {
  if (sink != nullptr) sink->Image(key, rows, width, height);
}

// Builds the text only when a sink listens: `make` is a callable returning std::string.
template <typename MakeText>
void DumpText(StageSink* sink, std::string_view key, MakeText&& make) {
  if (sink != nullptr) sink->Text(key, make());
}

}  // namespace vorsensor
