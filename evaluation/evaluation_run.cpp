// The evaluation run: parallel extraction, enrolment and scoring of one set.
#include "evaluation/evaluation_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <time.h>

#include "engine/extraction_entry.h"
#include "engine/feature_set.h"
#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "matching/match_workspace.h"
#include "matching/matcher.h"
#include "services/enrollment_run.h"
#include "services/opened_template.h"
#include "services/prepared_sample.h"
#include "services/template_merge.h"

namespace vorsensor::evaluation {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kAssumedDpi = 500;  // when neither the options, the manifest nor the file state one
constexpr int32_t kGradedThreshold = 0;  // every score "matches", so the details carry the best score
constexpr int32_t kMatcherNoMatch = -1;  // the matcher's "below the threshold"
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Processor time of the calling thread, in milliseconds.
double ThreadCpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string CodeMeaning(int32_t code) {
  switch (code) {
    case kOutOfMemory: return "out of memory";
    case kOutOfRange: return "argument out of range";
    case kServiceOutOfMemory: return "resolution out of range";
    case kImageSizeOutOfRange: return "image size out of range";
    case kInvalidConfiguration: return "invalid configuration";
    default: return "extraction error";
  }
}

size_t WorkerCount(int32_t threads, size_t tasks) {
  size_t n = threads > 0 ? static_cast<size_t>(threads) : std::max(1u, std::thread::hardware_concurrency());
  return std::max<size_t>(1, std::min(n, tasks));
}

// Runs task(worker, index) for every index below `count` on the workers
// (0 .. workers-1), which take the indices in rising order; the calling
// thread reports progress meanwhile and returns when all are done.
void ParallelFor(size_t count, size_t workers, const std::function<void(size_t, size_t)>& task,
                 const std::function<void(size_t)>& progress) {
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  std::mutex mutex;
  std::condition_variable finished;
  auto work = [&](size_t worker) {
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
      task(worker, i);
      done.fetch_add(1);
    }
    { const std::lock_guard<std::mutex> lock(mutex); }
    finished.notify_one();
  };
  std::vector<std::thread> pool;
  for (size_t w = 0; w < workers; ++w) pool.emplace_back(work, w);
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (done.load() < count) {
      finished.wait_for(lock, kProgressInterval, [&] { return done.load() >= count; });
      if (progress) progress(done.load());
    }
  }
  for (std::thread& t : pool) t.join();
  if (progress) progress(count);
}

struct Workspaces {
  explicit Workspaces(size_t n) : slots(n) {}
  MatchWorkspace* For(size_t worker) {
    if (!slots[worker]) slots[worker].reset(CreateMatchWorkspace());
    return slots[worker].get();
  }
  std::vector<MatchWorkspacePtr> slots;
};

// Scores each of `references` against the prepared probe.
void ScoreAgainstProbe(MatchWorkspace* workspace, const std::vector<uint8_t>& probe,
                       const std::vector<const std::vector<uint8_t>*>& references, const EngineConfiguration& config,
                       std::vector<ScoredComparison*>& out) {
  if (workspace == nullptr) {
    for (ScoredComparison* c : out) c->code = kOutOfMemory;
    return;
  }
  const int32_t prepared = PrepareProbe(workspace, probe.data(), probe.size(),
                                        static_cast<int32_t>(config.verifyRotationTolerance), &config);
  for (size_t k = 0; k < out.size(); ++k) {
    ScoredComparison* c = out[k];
    if (references[k] == nullptr) {
      c->code = kComparisonSkipped;
      continue;
    }
    if (prepared < 0) {
      c->code = prepared;
      continue;
    }
    MatchDetails details{};
    details.size = kDetailsShortSize;
    const std::vector<uint8_t>& r = *references[k];
    const int32_t answer = MatchSample(workspace, r.data(), r.size(), kGradedThreshold, &config, &details,
                                       sizeof(details));
    if (answer < 0 && answer != kMatcherNoMatch) {
      c->code = answer;
      continue;
    }
    c->code = 0;
    c->score = details.score;
  }
}

// The enrolment run's engine operations over images extracted already.
struct EnrolHooks {
  const std::vector<ImageOutcome>* images;
  EngineConfiguration* config;

  static int32_t Extract(void* context, int32_t, int32_t, int32_t, uint8_t* image, uint8_t* record, int32_t capacity,
                         int32_t* length) {
    const auto* self = static_cast<const EnrolHooks*>(context);
    int32_t index = 0;
    std::memcpy(&index, image, sizeof(index));
    const ImageOutcome& o = (*self->images)[static_cast<size_t>(index)];
    if (!o.extracted) return o.code;
    if (record == nullptr || length == nullptr || o.record.size() > static_cast<size_t>(capacity)) return kOutOfRange;
    std::copy(o.record.begin(), o.record.end(), record);
    *length = static_cast<int32_t>(o.record.size());
    return o.code;
  }
  static int32_t Compare(void* context, const uint8_t* first, const uint8_t* second, int32_t* matched) {
    const auto* self = static_cast<const EnrolHooks*>(context);
    return CompareForMerge(first, kEnrollSlotBytes, second, kEnrollSlotBytes, matched, self->config);
  }
  static int32_t Merge(void* context, const uint8_t* const records[kEnrollMergeSlots], uint8_t* output,
                       int32_t* length) {
    const auto* self = static_cast<const EnrolHooks*>(context);
    return MergeTemplates(kEnrollMergeSlots, records, kEnrollSlotBytes, output, kEnrollSlotBytes, length, self->config);
  }
};

Enrolment EnrolFinger(const std::vector<int32_t>& fingerImages, int32_t k, EnrolHooks* hooks) {
  Enrolment result;
  EnrollmentHooks h;
  h.context = hooks;
  h.extract = &EnrolHooks::Extract;
  h.compare = &EnrolHooks::Compare;
  h.merge = &EnrolHooks::Merge;
  auto run = std::make_unique<EnrollmentRun>();
  BeginEnrollment(run.get(), kEnrollRejectionLimit, h);
  std::vector<uint8_t> sealed(kSealedTemplateBytes);
  int32_t status = kEnrollMoreNeeded;
  for (size_t s = 0; s < fingerImages.size() && s < static_cast<size_t>(k) && status == kEnrollMoreNeeded; ++s) {
    int32_t index = fingerImages[s];
    int32_t length = 0;
    result.images.push_back(index);
    EnrollStep(run.get(), kEnrollResolution, 0, 0, reinterpret_cast<uint8_t*>(&index), sealed.data(), &length,
               &status);
  }
  EndEnrollment(run.get());
  result.status = status;
  if (status != kEnrollComplete) return result;
  std::vector<uint8_t> record(kSealedTemplateBytes);
  OpenSealed(MakeTemplateKey(), sealed.data(), record.data());
  auto set = std::make_unique<FeatureSet>();
  const int32_t used = ReadTemplateRecord(record.data(), record.size(), set.get());
  if (used < 0) {
    result.status = used;
    return result;
  }
  record.resize(static_cast<size_t>(used));
  result.record = std::move(record);
  result.minutiae = set->minutiaCount;
  return result;
}

}  // namespace

ImageOutcome ExtractImage(const SetImage& image, const EngineConfiguration& config, std::optional<int32_t> dpi) {
  ImageOutcome out;
  imageio::ImageResult read = imageio::ReadImage(image.path);
  if (!read.ok()) {
    out.code = kImageUnreadable;
    out.failure = "unreadable image: " + read.error;
    return out;
  }
  imageio::GreyImage& grey = read.image;
  const int32_t resolution = dpi ? *dpi : image.dpi > 0 ? image.dpi : grey.dpi > 0 ? grey.dpi : kAssumedDpi;
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  int32_t length = 0;
  const Clock::time_point start = Clock::now();
  const double cpuStart = ThreadCpuMilliseconds();
  const int32_t answer = ExtractTemplate(grey.width, grey.height, grey.pixels.data(), resolution, record.data(),
                                         static_cast<int32_t>(record.size()), &length, &config);
  out.cpuMilliseconds = ThreadCpuMilliseconds() - cpuStart;
  out.milliseconds = SecondsSince(start) * 1000;
  out.code = answer;
  if (answer < 0 && answer != kQualityRejected) {
    out.failure = CodeMeaning(answer) + " (" + std::to_string(grey.width) + " x " + std::to_string(grey.height) +
                  " at " + std::to_string(resolution) + " dpi)";
    return out;
  }
  record.resize(static_cast<size_t>(length));
  auto set = std::make_unique<FeatureSet>();
  const int32_t used = ReadTemplateRecord(record.data(), record.size(), set.get());
  if (used < 0) {
    out.code = used;
    out.failure = "the extracted record does not read back";
    return out;
  }
  out.extracted = true;
  out.minutiae = set->minutiaCount;
  out.record = std::move(record);
  return out;
}

void SplitScores(const std::vector<ScoredComparison>& comparisons, std::vector<int32_t>* genuine,
                 std::vector<int32_t>* impostor) {
  for (const ScoredComparison& c : comparisons) (c.genuine ? genuine : impostor)->push_back(c.score);
}

SetEvaluation EvaluateSet(const ImageSet& set, const EvaluationOptions& options) {
  SetEvaluation result;
  result.set = set;
  const EngineConfiguration& config = options.config;
  const int32_t threshold = static_cast<int32_t>(config.verifyThreshold);
  auto reporter = [&](const char* stage, size_t total) -> std::function<void(size_t)> {
    if (!options.progress) return {};
    return [&options, &set, stage, total](size_t done) { options.progress(set.name, stage, done, total); };
  };

  // Extraction, one image per task.
  const size_t imageCount = set.images.size();
  result.images.resize(imageCount);
  Clock::time_point start = Clock::now();
  ParallelFor(imageCount, WorkerCount(options.threads, imageCount),
              [&](size_t, size_t i) {
                result.images[i] = options.extract ? options.extract(set.images[i])
                                                   : ExtractImage(set.images[i], config, options.dpi);
              },
              reporter("extracting", imageCount));
  result.extractionSeconds = SecondsSince(start);
  auto recordOf = [&](int32_t image) -> const std::vector<uint8_t>* {
    const ImageOutcome& o = result.images[static_cast<size_t>(image)];
    return o.extracted ? &o.record : nullptr;
  };

  // Comparisons, grouped by probe so that each probe is prepared once.
  const std::vector<Comparison> pairs = MakeComparisons(set, options.protocol);
  result.comparisons.reserve(pairs.size());
  std::vector<std::vector<size_t>> byProbe(imageCount);
  for (size_t k = 0; k < pairs.size(); ++k) {
    result.comparisons.push_back({pairs[k].reference, pairs[k].probe, pairs[k].genuine, 0, kComparisonSkipped});
    byProbe[static_cast<size_t>(pairs[k].probe)].push_back(k);
  }
  std::vector<size_t> probes;
  for (size_t p = 0; p < imageCount; ++p) {
    if (!byProbe[p].empty()) probes.push_back(p);
  }
  const size_t workers = WorkerCount(options.threads, probes.size());
  Workspaces workspaces(workers);
  std::atomic<size_t> compared{0};
  const std::function<void(size_t)> comparing = reporter("comparing", pairs.size());
  start = Clock::now();
  ParallelFor(probes.size(), workers,
              [&](size_t worker, size_t task) {
                const size_t p = probes[task];
                std::vector<ScoredComparison*> out;
                std::vector<const std::vector<uint8_t>*> references;
                for (const size_t k : byProbe[p]) {
                  out.push_back(&result.comparisons[k]);
                  references.push_back(recordOf(result.comparisons[k].reference));
                }
                const std::vector<uint8_t>* probe = recordOf(static_cast<int32_t>(p));
                if (probe != nullptr) {
                  ScoreAgainstProbe(workspaces.For(worker), *probe, references, config, out);
                }
                compared.fetch_add(out.size());
              },
              comparing ? std::function<void(size_t)>([&](size_t) { comparing(compared.load()); })
                        : std::function<void(size_t)>());
  result.comparisonSeconds = SecondsSince(start);
  std::vector<int32_t> genuine;
  std::vector<int32_t> impostor;
  SplitScores(result.comparisons, &genuine, &impostor);
  result.rates = ComputeErrorRates(genuine, impostor, threshold);
  if (options.enrol <= 0) return result;

  // Enrolment of each finger from its first K impressions.
  std::vector<std::vector<int32_t>> fingerImages(set.fingers.size());
  for (size_t i = 0; i < imageCount; ++i) {
    fingerImages[static_cast<size_t>(set.images[i].finger)].push_back(static_cast<int32_t>(i));
  }
  EngineConfiguration enrolConfig = config;
  EnrolHooks hooks{&result.images, &enrolConfig};
  result.enrolments.resize(set.fingers.size());
  ParallelFor(set.fingers.size(), WorkerCount(options.threads, set.fingers.size()),
              [&](size_t, size_t f) { result.enrolments[f] = EnrolFinger(fingerImages[f], options.enrol, &hooks); },
              reporter("enrolling", set.fingers.size()));
  // Each enrolled template against its finger's remaining impressions and
  // the first impression of every other finger; the capture is the probe.
  std::vector<std::vector<size_t>> byFinger(set.fingers.size());
  for (size_t f = 0; f < set.fingers.size(); ++f) {
    for (size_t s = static_cast<size_t>(options.enrol); s < fingerImages[f].size(); ++s) {
      byFinger[f].push_back(result.enrolledComparisons.size());
      result.enrolledComparisons.push_back(
          {static_cast<int32_t>(f), fingerImages[f][s], true, 0, kComparisonSkipped});
    }
    for (size_t g = 0; g < set.fingers.size(); ++g) {
      if (g == f || fingerImages[g].empty()) continue;
      byFinger[f].push_back(result.enrolledComparisons.size());
      result.enrolledComparisons.push_back(
          {static_cast<int32_t>(f), fingerImages[g].front(), false, 0, kComparisonSkipped});
    }
  }
  const size_t enrolWorkers = WorkerCount(options.threads, set.fingers.size());
  Workspaces enrolWorkspaces(enrolWorkers);
  ParallelFor(set.fingers.size(), enrolWorkers,
              [&](size_t worker, size_t f) {
                const Enrolment& e = result.enrolments[f];
                if (e.status != kEnrollComplete) return;
                for (const size_t k : byFinger[f]) {
                  ScoredComparison& c = result.enrolledComparisons[k];
                  const std::vector<uint8_t>* probe = recordOf(c.probe);
                  if (probe == nullptr) continue;
                  std::vector<ScoredComparison*> out{&c};
                  ScoreAgainstProbe(enrolWorkspaces.For(worker), *probe, {&e.record}, config, out);
                }
              },
              {});
  genuine.clear();
  impostor.clear();
  SplitScores(result.enrolledComparisons, &genuine, &impostor);
  result.enrolledRates = ComputeErrorRates(genuine, impostor, threshold);
  return result;
}

}  // namespace vorsensor::evaluation
