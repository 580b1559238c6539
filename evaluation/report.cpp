// Markdown, JSON and CSV forms of an evaluation.
#include "evaluation/report.h"

#include <cstdio>
#include <sstream>

#include "services/enrollment_run.h"

namespace vorsensor::evaluation {
namespace {

constexpr double kPercentScale = 100.0;

struct SetFigures {
  int64_t images = 0;
  int64_t failures = 0;
  int64_t extractedCount = 0;
  int64_t minutiae = 0;
  int64_t timedCount = 0;
  double milliseconds = 0;
  double cpuMilliseconds = 0;
  int64_t comparisons = 0;
  double comparisonSeconds = 0;
  int64_t fingers = 0;
  int64_t enrolFailures = 0;
};

void Add(const SetEvaluation& s, SetFigures* f) {
  f->images += static_cast<int64_t>(s.images.size());
  for (const ImageOutcome& o : s.images) {
    if (!o.extracted) ++f->failures;
    if (o.extracted) {
      ++f->extractedCount;
      f->minutiae += o.minutiae;
    }
    if (o.code != kImageUnreadable) {
      ++f->timedCount;
      f->milliseconds += o.milliseconds;
      f->cpuMilliseconds += o.cpuMilliseconds;
    }
  }
  f->comparisons += static_cast<int64_t>(s.comparisons.size());
  f->comparisonSeconds += s.comparisonSeconds;
  f->fingers += static_cast<int64_t>(s.enrolments.size());
  for (const Enrolment& e : s.enrolments) {
    if (e.status != kEnrollComplete) ++f->enrolFailures;
  }
}

std::optional<double> Mean(double sum, int64_t count) {
  if (count == 0) return std::nullopt;
  return sum / static_cast<double>(count);
}

std::string Fixed(const std::optional<double>& value, int digits) {
  if (!value) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, *value);
  return text;
}

nlohmann::json Optional(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

std::string EnrolStatusText(int32_t status) {
  switch (status) {
    case kEnrollComplete: return "enrolled";
    case kEnrollMoreNeeded: return "no three captures agreed";
    case kEnrollMergeFailed: return "the merge failed";
    case kEnrollTooManyRejections: return "too many captures rejected";
    case kEnrollTooManySteps: return "step limit reached";
    case kEnrollOutOfMemory: return "out of memory";
    default: return "code " + std::to_string(status);
  }
}

nlohmann::json RatesJson(const ErrorRates& r) {
  nlohmann::json j = {{"genuine", r.genuineCount},
                      {"impostor", r.impostorCount},
                      {"eer", r.eer ? nlohmann::json(r.eer->value) : nlohmann::json(nullptr)},
                      {"fmr100", Optional(r.fmr100)},
                      {"fmr1000", Optional(r.fmr1000)},
                      {"zero_fmr", Optional(r.zeroFmr)},
                      {"threshold", r.threshold},
                      {"fnmr_at_threshold", Optional(r.fnmrAtThreshold)},
                      {"fmr_at_threshold", Optional(r.fmrAtThreshold)}};
  if (r.eer) {
    j["eer_interval"] = {r.eer->low, r.eer->high};
    j["eer_thresholds"] = {r.eer->t1, r.eer->t2};
  }
  return j;
}

std::string RateCells(const ErrorRates& r) {
  return Percent(r.eer ? std::optional<double>(r.eer->value) : std::nullopt) + " | " + Percent(r.fmr100) + " | " +
         Percent(r.fmr1000) + " | " + Percent(r.zeroFmr) + " | " + Percent(r.fnmrAtThreshold) + " | " +
         Percent(r.fmrAtThreshold);
}

std::string EerInterval(const ErrorRates& r) {
  if (!r.eer) return "n/a";
  return "[" + Percent(r.eer->low) + ", " + Percent(r.eer->high) + "] (t1 = " + std::to_string(r.eer->t1) +
         ", t2 = " + std::to_string(r.eer->t2) + ")";
}

std::string FileOf(const SetEvaluation& s, int32_t image) { return s.set.images[static_cast<size_t>(image)].name; }

}  // namespace

std::string Percent(const std::optional<double>& rate) {
  if (!rate) return "n/a";
  return Fixed(*rate * kPercentScale, 2) + " %";
}

void PoolSets(EvaluationSummary* summary) {
  std::vector<int32_t> genuine;
  std::vector<int32_t> impostor;
  std::vector<int32_t> enrolledGenuine;
  std::vector<int32_t> enrolledImpostor;
  for (const SetEvaluation& s : summary->sets) {
    SplitScores(s.comparisons, &genuine, &impostor);
    SplitScores(s.enrolledComparisons, &enrolledGenuine, &enrolledImpostor);
  }
  summary->pooled = ComputeErrorRates(genuine, impostor, summary->threshold);
  summary->pooledEnrolled = ComputeErrorRates(enrolledGenuine, enrolledImpostor, summary->threshold);
}

std::string MarkdownReport(const EvaluationSummary& summary, bool timings) {
  std::ostringstream md;
  md << "# Accuracy evaluation\n\n";
  md << "- Engine: " << summary.configuration << ".\n";
  md << "- Protocol: " << ProtocolName(summary.protocol)
     << (summary.protocol == Protocol::kFvc
             ? " (genuine: every two impressions of a finger; impostor: first impressions of different fingers)"
             : " (every two images of a set)")
     << "; the later image of a pair is the probe.\n";
  md << "- Scores: the graded score of the best alignment (matcher threshold 0); rates at the product threshold "
     << summary.threshold << " count a score of at least " << summary.threshold << " as a match.\n";
  md << "- " << kEerInterpolation << ".\n";
  md << "- FMR100, FMR1000, ZeroFMR: the lowest FNMR with FMR at most 1 %, at most 0.1 %, and 0.\n";
  md << "- An image that fails to extract stays in the protocol: its comparisons score 0.\n";
  if (timings) {
    md << "- " << summary.threads << " thread" << (summary.threads == 1 ? "" : "s") << "; whole evaluation "
       << Fixed(summary.seconds, 1) << " s. Extract ms: the processor time of one extraction call on its thread "
       << "(its wall time is in the JSON report); comparisons/s: wall time of the comparison stage.\n";
  }
  md << "\n| set | images | FTE | genuine | impostor | EER | FMR100 | FMR1000 | ZeroFMR | FNMR@" << summary.threshold
     << " | FMR@" << summary.threshold << " | minutiae |" << (timings ? " extract ms | comparisons/s |" : "") << "\n";
  md << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|" << (timings ? "---:|---:|" : "") << "\n";
  SetFigures all;
  auto row = [&](const std::string& name, const SetFigures& f, const ErrorRates& r) {
    md << "| " << name << " | " << f.images << " | " << f.failures << " | " << r.genuineCount << " | "
       << r.impostorCount << " | " << RateCells(r) << " | "
       << Fixed(Mean(static_cast<double>(f.minutiae), f.extractedCount), 1) << " |";
    if (timings) {
      md << " " << Fixed(Mean(f.cpuMilliseconds, f.timedCount), 1) << " | "
         << Fixed(f.comparisonSeconds > 0 ? std::optional<double>(static_cast<double>(f.comparisons) / f.comparisonSeconds)
                                          : std::nullopt,
                  0)
         << " |";
    }
    md << "\n";
  };
  for (const SetEvaluation& s : summary.sets) {
    SetFigures f;
    Add(s, &f);
    Add(s, &all);
    row(s.set.name, f, s.rates);
  }
  if (summary.sets.size() > 1) row("pooled", all, summary.pooled);

  if (summary.enrol > 0) {
    md << "\n## Enrolled templates (first " << summary.enrol << " impressions of each finger)\n\n";
    md << "Each finger is enrolled as `vorsensor enroll` does from its first " << summary.enrol
       << " impressions; the enrolled template is compared with the finger's remaining impressions (genuine) and "
          "with the first impression of every other finger (impostor). A finger that fails to enrol stays in: its "
          "comparisons score 0.\n\n";
    md << "| set | fingers | failed to enrol | genuine | impostor | EER | FMR100 | FMR1000 | ZeroFMR | FNMR@"
       << summary.threshold << " | FMR@" << summary.threshold << " |\n";
    md << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    auto enrolRow = [&](const std::string& name, const SetFigures& f, const ErrorRates& r) {
      md << "| " << name << " | " << f.fingers << " | " << f.enrolFailures << " | " << r.genuineCount << " | "
         << r.impostorCount << " | " << RateCells(r) << " |\n";
    };
    for (const SetEvaluation& s : summary.sets) {
      SetFigures f;
      Add(s, &f);
      enrolRow(s.set.name, f, s.enrolledRates);
    }
    if (summary.sets.size() > 1) enrolRow("pooled", all, summary.pooledEnrolled);
  }

  md << "\n## EER intervals\n\n";
  for (const SetEvaluation& s : summary.sets) md << "- " << s.set.name << ": " << EerInterval(s.rates) << "\n";
  if (summary.sets.size() > 1) md << "- pooled: " << EerInterval(summary.pooled) << "\n";

  md << "\n## Failures to extract\n\n";
  bool any = false;
  for (const SetEvaluation& s : summary.sets) {
    for (size_t i = 0; i < s.images.size(); ++i) {
      const ImageOutcome& o = s.images[i];
      if (o.extracted) continue;
      any = true;
      md << "- " << s.set.name << "/" << s.set.images[i].name << ": code " << o.code << ", " << o.failure << "\n";
    }
  }
  if (!any) md << "None.\n";
  if (summary.enrol > 0) {
    md << "\n## Failures to enrol\n\n";
    any = false;
    for (const SetEvaluation& s : summary.sets) {
      for (size_t f = 0; f < s.enrolments.size(); ++f) {
        if (s.enrolments[f].status == kEnrollComplete) continue;
        any = true;
        md << "- " << s.set.name << " finger " << s.set.fingers[f] << ": status " << s.enrolments[f].status << ", "
           << EnrolStatusText(s.enrolments[f].status) << "\n";
      }
    }
    if (!any) md << "None.\n";
  }
  return md.str();
}

nlohmann::json JsonReport(const EvaluationSummary& summary, bool timings) {
  nlohmann::json out;
  out["configuration"] = summary.configuration;
  out["protocol"] = ProtocolName(summary.protocol);
  out["threshold"] = summary.threshold;
  out["eer_interpolation"] = kEerInterpolation;
  if (summary.enrol > 0) out["enrol"] = summary.enrol;
  SetFigures all;
  auto figures = [&](const SetFigures& f, nlohmann::json* j) {
    (*j)["images"] = f.images;
    (*j)["failures_to_extract_count"] = f.failures;
    (*j)["mean_minutiae"] = Optional(Mean(static_cast<double>(f.minutiae), f.extractedCount));
    if (timings) {
      (*j)["mean_extraction_ms"] = Optional(Mean(f.milliseconds, f.timedCount));
      (*j)["mean_extraction_cpu_ms"] = Optional(Mean(f.cpuMilliseconds, f.timedCount));
      (*j)["comparisons_per_second"] =
          f.comparisonSeconds > 0 ? nlohmann::json(static_cast<double>(f.comparisons) / f.comparisonSeconds)
                                  : nlohmann::json(nullptr);
    }
  };
  out["sets"] = nlohmann::json::array();
  for (const SetEvaluation& s : summary.sets) {
    SetFigures f;
    Add(s, &f);
    Add(s, &all);
    nlohmann::json j = RatesJson(s.rates);
    j["name"] = s.set.name;
    j["fingers"] = s.set.fingers.size();
    figures(f, &j);
    j["failures_to_extract"] = nlohmann::json::array();
    for (size_t i = 0; i < s.images.size(); ++i) {
      if (s.images[i].extracted) continue;
      j["failures_to_extract"].push_back(
          {{"file", s.set.images[i].name}, {"code", s.images[i].code}, {"reason", s.images[i].failure}});
    }
    if (timings) {
      j["extraction_seconds"] = s.extractionSeconds;
      j["comparison_seconds"] = s.comparisonSeconds;
    }
    if (summary.enrol > 0) {
      nlohmann::json e = RatesJson(s.enrolledRates);
      e["failures_to_enrol"] = nlohmann::json::array();
      for (size_t k = 0; k < s.enrolments.size(); ++k) {
        if (s.enrolments[k].status == kEnrollComplete) continue;
        e["failures_to_enrol"].push_back({{"finger", s.set.fingers[k]},
                                          {"status", s.enrolments[k].status},
                                          {"reason", EnrolStatusText(s.enrolments[k].status)}});
      }
      j["enrolled"] = e;
    }
    out["sets"].push_back(j);
  }
  nlohmann::json pooled = RatesJson(summary.pooled);
  figures(all, &pooled);
  if (summary.enrol > 0) pooled["enrolled"] = RatesJson(summary.pooledEnrolled);
  out["pooled"] = pooled;
  if (timings) {
    out["threads"] = summary.threads;
    out["seconds"] = summary.seconds;
  }
  return out;
}

std::string ScoresCsv(const EvaluationSummary& summary) {
  std::ostringstream csv;
  csv << "set,kind,reference,probe,score,status\n";
  auto status = [](const ScoredComparison& c) {
    return c.code == 0 ? std::string("compared") : c.code == kComparisonSkipped ? std::string("failed image")
                                                                                 : "matcher code " + std::to_string(c.code);
  };
  for (const SetEvaluation& s : summary.sets) {
    for (const ScoredComparison& c : s.comparisons) {
      csv << s.set.name << "," << (c.genuine ? "genuine" : "impostor") << "," << FileOf(s, c.reference) << ","
          << FileOf(s, c.probe) << "," << c.score << "," << status(c) << "\n";
    }
    for (const ScoredComparison& c : s.enrolledComparisons) {
      const Enrolment& e = s.enrolments[static_cast<size_t>(c.reference)];
      csv << s.set.name << "," << (c.genuine ? "enrolled genuine" : "enrolled impostor") << ",enrolled "
          << s.set.fingers[static_cast<size_t>(c.reference)] << "," << FileOf(s, c.probe) << "," << c.score << ","
          << (e.status != kEnrollComplete ? std::string("failed enrolment") : status(c)) << "\n";
    }
  }
  return csv.str();
}

}  // namespace vorsensor::evaluation
