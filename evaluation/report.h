#pragma once
// The report of an evaluation: per set and pooled over all sets, as Markdown,
// as JSON, and the scores themselves as CSV.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "evaluation/error_rates.h"
#include "evaluation/evaluation_run.h"
#include "evaluation/protocol.h"

namespace vorsensor::evaluation {

struct EvaluationSummary {
  std::string configuration;  // how the engine was set up, in words
  Protocol protocol = Protocol::kFvc;
  int32_t threshold = 0;      // the product threshold the rates at one threshold use
  int32_t threads = 1;
  int32_t enrol = 0;
  std::vector<SetEvaluation> sets;
  ErrorRates pooled;          // over the scores of all sets
  ErrorRates pooledEnrolled;
  double seconds = 0;         // the whole evaluation
};

// Fills the pooled rates from the sets.
void PoolSets(EvaluationSummary* summary);

// Without `timings` the report leaves out every figure measured in time, so
// that two runs of the same evaluation give the same text.
std::string MarkdownReport(const EvaluationSummary& summary, bool timings);
nlohmann::json JsonReport(const EvaluationSummary& summary, bool timings);

// One line per comparison: set,kind,reference,probe,score,status.
std::string ScoresCsv(const EvaluationSummary& summary);

// "2.14 %", or "n/a" when unset.
std::string Percent(const std::optional<double>& rate);

}  // namespace vorsensor::evaluation
