// Arbitrary bytes as a template record. Whatever the reader accepts must
// write back as a record that reads into the same feature set (cells of the
// "other" class 120..254 compare as one value, since the record keeps only
// the class), and writing that set again must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/feature_set.h"
#include "engine/template_record.h"

using namespace vorsensor;

namespace {

uint8_t CellClass(uint8_t v) { return v >= 120 && v != kBackgroundBlock ? 127 : v; }

bool SameSet(const FeatureSet& a, const FeatureSet& b) {
  if (a.densityByte != b.densityByte || a.minutiaCount != b.minutiaCount ||
      a.singularCount != b.singularCount || a.gridWidth != b.gridWidth || a.gridHeight != b.gridHeight) {
    return false;
  }
  for (int32_t i = 0; i < a.minutiaCount; ++i) {
    const Minutia& p = a.minutiae[i];
    const Minutia& q = b.minutiae[i];
    if (p.x != q.x || p.y != q.y || p.type != q.type || p.direction != q.direction ||
        p.spread != q.spread || p.density != q.density) {
      return false;
    }
  }
  for (int32_t i = 0; i < a.singularCount; ++i) {
    const SingularPoint& p = a.singular[i];
    const SingularPoint& q = b.singular[i];
    if (p.x != q.x || p.y != q.y || p.kind != q.kind || p.direction != q.direction) return false;
  }
  for (int32_t r = 0; r < a.gridHeight; ++r) {
    for (int32_t c = 0; c < a.gridWidth; ++c) {
      if (CellClass(a.grid[r][c]) != CellClass(b.grid[r][c])) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto first = std::make_unique<FeatureSet>();
  const int32_t read = ReadTemplateRecord(data, size, first.get());
  if (read < 0) return 0;
  if (static_cast<size_t>(read) > size) std::abort();

  std::vector<uint8_t> written(kMaxTemplateRecordSize);
  const int32_t length = WriteTemplateRecord(first.get(), written.data(), written.size());
  if (length < 0) std::abort();
  written.resize(static_cast<size_t>(length));  // exact size: an overread is caught

  auto second = std::make_unique<FeatureSet>();
  if (ReadTemplateRecord(written.data(), written.size(), second.get()) != length) std::abort();
  if (!SameSet(*first, *second)) std::abort();

  std::vector<uint8_t> rewritten(kMaxTemplateRecordSize);
  if (WriteTemplateRecord(second.get(), rewritten.data(), rewritten.size()) != length) std::abort();
  if (std::memcmp(written.data(), rewritten.data(), written.size()) != 0) std::abort();
  return 0;
}
