// Verify and Identify: decode the texts, call the verification and
// identification service and turn its status into the methods' answers.
#include "component/template_methods.h"

#include <algorithm>
#include <array>
#include <new>

#include "component/template_text.h"
#include "services/best_score.h"
#include "services/match_templates.h"
#include "services/parallel_identify.h"

namespace vorsensor {
namespace {

constexpr int32_t kNoIndex = -1;

using DecodedTemplate = std::array<uint8_t, kDecodedTemplateBufferSize>;

// The outcome of a MatchTemplates call: the index when it succeeded and found
// a match, else -1.
int32_t Outcome(int32_t ran, int32_t index, int32_t status) {
  return ran == 1 && status == kTemplatesMatchFound ? index : kNoIndex;
}

}  // namespace

int32_t Verify(std::string_view text1, std::string_view text2, EngineConfiguration* engine) {
  DecodedTemplate a{};
  DecodedTemplate b{};
  DecodeTemplateText(text1, a.data(), a.size());
  DecodeTemplateText(text2, b.data(), b.size());
  const uint8_t* references[1] = {a.data()};
  int32_t index = 0;
  int32_t status = kTemplatesNoMatch;
  const int32_t ran = MatchTemplates(b.data(), references, 1, &index, &status, engine);
  return Outcome(ran, index, status) == 0 ? 1 : 0;
}

int32_t Identify(std::string_view sample, const std::vector<std::string_view>& references,
                 EngineConfiguration* engine) {
  try {
    const size_t count = references.size();
    // One zeroed block for the whole list, as the automation object decodes
    // its array, and one pointer per reference into it.
    std::vector<DecodedTemplate> block(count, DecodedTemplate{});
    std::vector<const uint8_t*> list(count);
    for (size_t i = 0; i < count; ++i) {
      DecodeTemplateText(references[i], block[i].data(), block[i].size());
      list[i] = block[i].data();
    }
    DecodedTemplate decodedSample{};
    DecodeTemplateText(sample, decodedSample.data(), decodedSample.size());
    int32_t index = 0;
    int32_t status = kTemplatesNoMatch;
    const int32_t ran = MatchTemplates(decodedSample.data(), list.data(), static_cast<int32_t>(count), &index,
                                       &status, engine);
    return Outcome(ran, index, status);
  } catch (const std::bad_alloc&) {
    return kNoIndex;
  }
}

int32_t BestScoreOfTexts(std::string_view text1, std::string_view text2, const EngineConfiguration* engine) {
  DecodedTemplate a{};
  DecodedTemplate b{};
  DecodeTemplateText(text1, a.data(), a.size());
  DecodeTemplateText(text2, b.data(), b.size());
  return BestScoreOfTemplates(b.data(), a.data(), engine);
}

int32_t IdentifyParallel(std::string_view sample, const std::vector<std::string_view>& references,
                         int32_t threadCount, EngineConfiguration* engine) {
  DecodedTemplate decodedSample{};
  DecodeTemplateText(sample, decodedSample.data(), decodedSample.size());
  // Each call decodes into a fresh zeroed buffer, then hands on the sealed part.
  const SealedTemplateSource source = [&references](int32_t k, uint8_t* sealed) {
    DecodedTemplate decoded{};
    DecodeTemplateText(references[static_cast<size_t>(k)], decoded.data(), decoded.size());
    std::copy(decoded.begin(), decoded.begin() + kSealedTemplateBytes, sealed);
    return true;
  };
  int32_t index = 0;
  int32_t status = kTemplatesNoMatch;
  const int32_t ran = IdentifyParallel(decodedSample.data(), static_cast<int32_t>(references.size()), source,
                                       threadCount, &index, &status, engine);
  return Outcome(ran, index, status);
}

}  // namespace vorsensor
