#include "services/template_helpers.h"

#include <algorithm>
#include <cstdlib>

#include "engine/template_record.h"
#include "services/template_cipher.h"

namespace vorsensor::testing {

std::unique_ptr<FeatureSet> MakeFinger(TestRandom& random) { return MakeFingerSet(random); }

std::unique_ptr<FeatureSet> MakeImpression(const FeatureSet& finger, TestRandom& random, int32_t rotation,
                                           int32_t dx, int32_t dy) {
  ImpressionChange change;
  change.rotation = rotation;
  change.shiftX = dx;
  change.shiftY = dy;
  return MakeImpressionSet(finger, random, change);
}

FingerTrio MakeFingerTrio(TestRandom& random, int32_t rotation, int32_t dx, int32_t dy) {
  FingerTrio trio;
  trio.finger = MakeFinger(random);
  trio.impression = MakeImpression(*trio.finger, random, rotation, dx, dy);
  trio.other = MakeFinger(random);
  return trio;
}

RecordBytes RecordOf(const FeatureSet& set) {
  std::vector<uint8_t> work(kRecordWorkBufferSize);
  const int32_t length = WriteTemplateRecord(&set, work.data(), work.size());
  if (length <= 0 || length > static_cast<int32_t>(kRecordBytes)) {
    std::abort();  // the makers above never produce such a set
  }
  RecordBytes record{};
  std::copy(work.begin(), work.begin() + length, record.begin());
  return record;
}

SealedBytes Seal(const RecordBytes& record) {
  SealedBytes sealed{};
  SealTemplateRecord(record.data(), record.size(), sealed.data());
  return sealed;
}

std::string HexOf(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace vorsensor::testing
