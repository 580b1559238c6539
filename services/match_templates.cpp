// MatchTemplates: the one-to-one path answers Verify, the first-match search
// answers Identify.
#include "services/match_templates.h"

#include <array>

#include "engine/result_codes.h"
#include "matching/matcher.h"
#include "services/opened_template.h"
#include "services/prepared_sample.h"
#include "services/verification.h"

namespace vorsensor {
namespace {

using Record = std::array<uint8_t, kServiceRecordSize>;
static_assert(kServiceRecordSize == static_cast<size_t>(kSealedTemplateBytes), "a record opens from a sealed template");

void Open(const CipherKey& key, const uint8_t* sealed, Record* record) { OpenSealed(key, sealed, record->data()); }

MatchDetails ShortDetails() {
  MatchDetails details{};
  details.size = kDetailsShortSize;
  return details;
}

}  // namespace

int32_t MatchTemplates(const uint8_t* sample, const uint8_t* const* references, int32_t count, int32_t* index,
                       int32_t* status, EngineConfiguration* engine) {
  if (index == nullptr || status == nullptr) {
    return 0;
  }
  const CipherKey key = MakeTemplateKey();
  // Nothing reads the details back; each call has its own so that two
  // threads never write one record.
  MatchDetails details = ShortDetails();
  Record sampleRecord;
  Record referenceRecord;

  if (count == 1) {
    Open(key, references != nullptr ? references[0] : nullptr, &referenceRecord);
    Open(key, sample, &sampleRecord);
    const int32_t answer = VerifyRecords(sampleRecord.data(), referenceRecord.data(), &details, engine);
    if (answer == 0) {
      *index = 0;
      *status = kTemplatesMatchFound;
    } else {
      *status = kTemplatesNoMatch;
    }
    return 1;
  }

  // The search holds its prepared sample in a workspace of its own rather
  // than in the engine's loaded sample, so that identifications on several
  // threads, or an identification beside an enrolment, never refuse or
  // overwrite each other. The workspace is freed on every way out.
  const EngineConfiguration* config = engine != nullptr ? engine : EngineConfig();
  if (config == nullptr) {
    *status = kTemplatesSampleUnusable;
    return 0;
  }
  Open(key, sample, &sampleRecord);
  MatchWorkspacePtr prepared;
  if (PrepareSample(sampleRecord.data(), *config, &prepared) < 0) {
    *status = kTemplatesSampleUnusable;
    return 0;
  }
  for (int32_t k = 0; k < count; ++k) {
    Open(key, references != nullptr ? references[k] : nullptr, &referenceRecord);
    if (MatchPreparedSample(prepared.get(), referenceRecord.data(), *config, &details) == 0) {
      *index = k;
      *status = kTemplatesMatchFound;
      break;
    }
  }
  return 1;
}

}  // namespace vorsensor
