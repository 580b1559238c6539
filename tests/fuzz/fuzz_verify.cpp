// Arbitrary bytes as two template texts (split at the first newline) through
// Verify, Identify and the best score. Nothing may crash, and a text that is
// not a sealed template of a matching finger must never match a genuine one.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "component/template_methods.h"
#include "component/template_text.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "services/template_cipher.h"

using namespace vorsensor;

namespace {

// A fixed finger of 48 minutiae on a jittered grid, sealed into a template text.
std::string GenuineText() {
  auto set = std::make_unique<FeatureSet>();
  ClearFeatureSet(set.get());
  for (int32_t i = 0; i < 48; ++i) {
    Minutia& m = set->minutiae[set->minutiaCount++];
    m = Minutia{};
    m.x = 30 + (i % 8) * 26 + (i * 7) % 9;
    m.y = 40 + (i / 8) * 34 + (i * 5) % 11;
    m.type = i % 3 == 0 ? kMinutiaBifurcation : kMinutiaEnding;
    m.direction = static_cast<uint8_t>((i * 37) % 240);
    m.spread = static_cast<uint8_t>(5 + i % 30);
    m.density = static_cast<uint8_t>(80 + i % 40);
  }
  std::vector<uint8_t> record(kRecordWorkBufferSize);
  const int32_t length = WriteTemplateRecord(set.get(), record.data(), record.size());
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
  if (length <= 0 || SealTemplateRecord(record.data(), static_cast<size_t>(length), sealed.data()) < 0) {
    std::abort();
  }
  std::array<char, kTemplateTextBufferSize> text{};
  EncodeTemplateText(sealed.data(), kSealedTemplateBytes, text.data(), text.size());
  return std::string(text.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static EngineConfiguration* config = [] {
    auto* c = new EngineConfiguration{};
    SetDefaultConfiguration(c);
    return c;
  }();
  static const std::string genuine = GenuineText();
  if (Verify(genuine, genuine, config) != 1) std::abort();

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string_view text1 = input.substr(0, split);
  const std::string_view text2 = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  const int32_t answer = Verify(text1, text2, config);
  if (answer != 0 && answer != 1) std::abort();
  if (Verify(text1, genuine, config) != 0 || Verify(genuine, text2, config) != 0) std::abort();
  if (Identify(text1, {text2, genuine}, config) == 1) std::abort();
  if (Identify(genuine, {text1, text2}, config) != -1) std::abort();
  BestScoreOfTexts(text1, text2, config);
  return 0;
}
