#pragma once
// One evaluation of the engine over image sets: every image extracted once,
// the protocol's comparisons scored with the graded score (threshold 0), and
// optionally templates enrolled from the first impressions of each finger.
//
// Extraction, enrolment and comparisons run on several threads; every result
// lands in the slot of its image, finger or comparison, so the scores do not
// depend on the number of threads. Only the timings do.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "evaluation/error_rates.h"
#include "evaluation/image_set.h"
#include "evaluation/protocol.h"

namespace vorsensor::evaluation {

// An image whose file cannot be decoded (no engine operation returns this code).
constexpr int32_t kImageUnreadable = -9000;
// A comparison with an image or template that failed: scored 0, a non-match.
constexpr int32_t kComparisonSkipped = -9001;

struct ImageOutcome {
  int32_t code = 0;       // the extraction's answer: the image quality, or a negative code
  bool extracted = false; // a template record exists (a quality, or the quality rejection)
  std::string failure;    // why not, for failures
  int32_t minutiae = 0;
  double milliseconds = 0;     // the extraction call alone, wall time; 0 for unreadable images
  double cpuMilliseconds = 0;  // the same call's processor time on its thread (steady on a busy machine)
  std::vector<uint8_t> record;
};

// Reads and extracts one image of a set with `config`; `dpi` overrides the
// resolution the manifest or the file states (else 500).
ImageOutcome ExtractImage(const SetImage& image, const EngineConfiguration& config, std::optional<int32_t> dpi);

struct ScoredComparison {
  int32_t reference;  // image index; for enrolled comparisons the finger index
  int32_t probe;      // image index
  bool genuine;
  int32_t score;      // the graded score; 0 when not compared
  int32_t code;       // 0 compared; kComparisonSkipped; or the matcher's error
};

struct Enrolment {
  int32_t status = 0;              // the enrolment run's last status (kEnrollComplete when enrolled)
  std::vector<int32_t> images;     // the images fed to the run
  int32_t minutiae = 0;
  std::vector<uint8_t> record;     // the enrolled template record
};

struct SetEvaluation {
  ImageSet set;
  std::vector<ImageOutcome> images;
  std::vector<ScoredComparison> comparisons;
  ErrorRates rates;
  double extractionSeconds = 0;  // wall time of the extraction stage
  double comparisonSeconds = 0;  // wall time of the comparison stage
  // With enrolment: one entry per finger, the enrolled templates' comparisons
  // (with the later impressions of their finger and with the first impression
  // of every other finger) and their rates.
  std::vector<Enrolment> enrolments;
  std::vector<ScoredComparison> enrolledComparisons;
  ErrorRates enrolledRates;
};

// (set name, stage, done, total); called on the calling thread only.
using ProgressFunction = std::function<void(const std::string&, const char*, size_t, size_t)>;
using ExtractFunction = std::function<ImageOutcome(const SetImage&)>;

struct EvaluationOptions {
  Protocol protocol = Protocol::kFvc;
  int32_t threads = 1;        // 0 or less: one per hardware thread
  int32_t enrol = 0;          // K > 0: enrol the first K impressions of each finger
  std::optional<int32_t> dpi;
  EngineConfiguration config{};  // extraction and matching; its verifyThreshold is the reported threshold
  ProgressFunction progress;  // may be empty
  ExtractFunction extract;    // empty: ExtractImage with config and dpi
};

// Evaluates one set. The engine need not be started: every operation is
// given options.config.
SetEvaluation EvaluateSet(const ImageSet& set, const EvaluationOptions& options);

// The scores of a list of comparisons, split by kind.
void SplitScores(const std::vector<ScoredComparison>& comparisons, std::vector<int32_t>* genuine,
                 std::vector<int32_t>* impostor);

}  // namespace vorsensor::evaluation
