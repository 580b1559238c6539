#include "template_helpers.h"

#include <algorithm>
#include <cstdlib>

#include "engine/template_record.h"
#include "matching/geometry/geometry.h"
#include "services/template_cipher.h"

namespace vorsensor::testing {
namespace {

constexpr int32_t kImageWidth = 256;
constexpr int32_t kImageHeight = 288;
constexpr int32_t kMinSpacing = 9;

bool InPrint(int32_t x, int32_t y) {
  // Ellipse with half axes 110 x 130 round the image centre.
  const int64_t ex = x - kImageWidth / 2;
  const int64_t ey = y - kImageHeight / 2;
  return ex * ex * 130 * 130 + ey * ey * 110 * 110 <= int64_t{110} * 110 * 130 * 130;
}

bool FarFromOthers(const FeatureSet& set, int32_t x, int32_t y) {
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    if (std::abs(set.minutiae[i].x - x) < kMinSpacing && std::abs(set.minutiae[i].y - y) < kMinSpacing) {
      return false;
    }
  }
  return true;
}

// A loop-like ridge flow round a core near the image centre.
uint8_t FlowDirection(int32_t x, int32_t y, TestRandom& random) {
  const int32_t orientation = (DirectionOf(kImageWidth / 2, kImageHeight / 2 - 20, x, y) / 2 + 60) % 120;
  return static_cast<uint8_t>(orientation + (random.Range(0, 1) == 1 ? 120 : 0));
}

bool AddRandomMinutia(FeatureSet* set, TestRandom& random) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int32_t x = random.Range(8, kImageWidth - 9);
    const int32_t y = random.Range(8, kImageHeight - 9);
    if (!InPrint(x, y) || !FarFromOthers(*set, x, y)) {
      continue;
    }
    Minutia& m = set->minutiae[set->minutiaCount++];
    m = Minutia{};
    m.x = x;
    m.y = y;
    m.type = random.Range(0, 2) == 0 ? kMinutiaBifurcation : kMinutiaEnding;
    m.direction = FlowDirection(x, y, random);
    m.spread = static_cast<uint8_t>(random.Range(2, 40));
    m.density = static_cast<uint8_t>(random.Range(60, 140));
    return true;
  }
  return false;
}

int32_t Jitter(TestRandom& random, int32_t value, int32_t amount) { return value + random.Range(-amount, amount); }

}  // namespace

std::unique_ptr<FeatureSet> MakeFinger(TestRandom& random) {
  auto set = std::make_unique<FeatureSet>();
  ClearFeatureSet(set.get());
  set->densityByte = static_cast<uint8_t>(random.Range(90, 130));
  const int32_t count = random.Range(40, 60);
  while (set->minutiaCount < count && AddRandomMinutia(set.get(), random)) {
  }
  return set;
}

std::unique_ptr<FeatureSet> MakeImpression(const FeatureSet& finger, TestRandom& random, int32_t rotation,
                                           int32_t dx, int32_t dy) {
  auto set = std::make_unique<FeatureSet>();
  ClearFeatureSet(set.get());
  set->densityByte = finger.densityByte;
  const int32_t turn = ((rotation % kFullTurn) + kFullTurn) % kFullTurn;
  const int32_t cx = kImageWidth / 2;
  const int32_t cy = kImageHeight / 2;
  for (int32_t i = 0; i < finger.minutiaCount; ++i) {
    if (random.Range(0, 9) == 0) {
      continue;  // lost in this impression
    }
    const Minutia& from = finger.minutiae[i];
    const int32_t rx = from.x - cx;
    const int32_t ry = from.y - cy;
    Minutia& m = set->minutiae[set->minutiaCount++];
    m = from;
    m.x = cx + (rx * kCosine[turn] - ry * kSine[turn]) / kTrigScale + dx;
    m.y = cy + (rx * kSine[turn] + ry * kCosine[turn]) / kTrigScale + dy;
    m.x = Jitter(random, m.x, 2);
    m.y = Jitter(random, m.y, 2);
    m.direction = static_cast<uint8_t>((from.direction + turn + random.Range(-3, 3) + kFullTurn) % kFullTurn);
  }
  const int32_t extra = random.Range(1, 4);
  for (int32_t i = 0; i < extra; ++i) {
    AddRandomMinutia(set.get(), random);
  }
  return set;
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
