// vorsensor eval FOLDER...: the accuracy of the engine over sets of
// fingerprint images, with the FVC protocol or all pairs, as a report, score
// lists and DET and histogram pictures.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "engine/extraction_entry.h"
#include "engine/scanner_profiles.h"
#include "evaluation/evaluation_run.h"
#include "evaluation/image_set.h"
#include "evaluation/plots.h"
#include "evaluation/report.h"
#include "services/enrollment_run.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

namespace ev = vorsensor::evaluation;

constexpr int32_t kMaxThreads = 256;
constexpr int32_t kEnrolMin = 3;  // an enrolment merges three agreeing captures
constexpr int32_t kEnrolMax = kEnrollStepLimit - 1;
constexpr int kBarWidth = 30;
constexpr size_t kPlainProgressSteps = 4;  // progress lines per stage without a terminal

constexpr const char* kEvalDescription =
    "Measure the accuracy of the engine over sets of fingerprint images.\n"
    "Each FOLDER holds one set: images named FINGER_IMPRESSION.ext (101_1.tif, the FVC naming),\n"
    "or a manifest.csv with the columns file,finger,impression[,dpi][,set] (a set column makes\n"
    "several sets of one folder). Every image is extracted once (--dpi, --profile, --mode; a\n"
    "resolution from --dpi, else the manifest, else the file, else 500); then the protocol's\n"
    "comparisons are scored with the graded score (matcher threshold 0), the later image of a\n"
    "pair prepared as the probe. --protocol fvc (default): genuine comparisons between every two\n"
    "impressions of a finger, impostor comparisons between the first impressions of different\n"
    "fingers; all-pairs: every two images. Images that cannot be read or extracted are failures\n"
    "to extract and their comparisons score 0. --enrol K also enrols each finger from its first\n"
    "K impressions (as `vorsensor enroll` does) and compares the enrolled template with the\n"
    "remaining impressions and with the first impression of every other finger.\n"
    "Prints the report (per set and pooled: failures to extract, EER, FMR100, FMR1000, ZeroFMR,\n"
    "FNMR and FMR at the product threshold 48, mean extraction time and minutiae, comparisons\n"
    "per second) and writes into --out: report.md, report.json, scores.csv, det.png/.svg and\n"
    "histogram_SET.png/.svg. Progress goes to standard error.\n"
    "Exit code: 0 done, 2 bad input.";

struct EvalOptions {
  std::vector<std::string> folders;
  std::string protocol = "fvc";
  int32_t threads = 0;
  std::string out = "vorsensor-eval";
  bool json = false;
  int32_t enrol = 0;
  ExtractionOptions extraction;
};

std::string DescribeConfiguration(const EvalOptions& options, const EngineConfiguration& config) {
  const ScannerProfile* profile = FindScannerProfile(config.scannerId);
  std::string text = "scanner profile " + std::to_string(config.scannerId);
  if (profile != nullptr) text += std::string(" (") + profile->name + ")";
  text += ", profile mode " + std::to_string(config.profileMode);
  text += options.extraction.dpi ? ", images taken at " + std::to_string(*options.extraction.dpi) + " dpi"
                                 : ", resolution from the manifest or the file, else 500 dpi";
  return text;
}

// A bar redrawn in place on a terminal; a few plain lines per stage otherwise.
class Progress {
 public:
  Progress() : terminal_(::isatty(STDERR_FILENO) == 1) {}
  void operator()(const std::string& set, const char* stage, size_t done, size_t total) {
    if (terminal_) {
      const size_t filled = total == 0 ? kBarWidth : done * kBarWidth / total;
      std::fprintf(stderr, "\r%-24s %-10s [%s%s] %zu/%zu", set.c_str(), stage, std::string(filled, '#').c_str(),
                   std::string(kBarWidth - filled, '.').c_str(), done, total);
      if (done == total) std::fprintf(stderr, "\n");
      std::fflush(stderr);
      return;
    }
    const std::string key = set + "/" + stage;
    const size_t step = total == 0 ? kPlainProgressSteps : done * kPlainProgressSteps / total;
    if (key == lastKey_ && step == lastStep_) return;
    if (key != lastKey_ && done != 0 && done != total) lastStep_ = 0;
    lastKey_ = key;
    lastStep_ = step;
    if (done == 0) return;
    std::fprintf(stderr, "%s: %s %zu/%zu\n", set.c_str(), stage, done, total);
  }

 private:
  bool terminal_;
  std::string lastKey_;
  size_t lastStep_ = 0;
};

bool WriteText(const std::filesystem::path& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) {
    *error = path.string() + ": cannot write the file";
    return false;
  }
  return true;
}

int RunEval(const EvalOptions& options) {
  const std::string command = "eval";
  const std::optional<ev::Protocol> protocol = ev::ParseProtocol(options.protocol);
  if (!protocol) return Fail(command, "--protocol " + options.protocol + " is neither fvc nor all-pairs");
  if (options.threads < 0 || options.threads > kMaxThreads) {
    return Fail(command, "--threads " + std::to_string(options.threads) + " is outside 0..256 (0: one per core)");
  }
  if (options.enrol != 0 && (options.enrol < kEnrolMin || options.enrol > kEnrolMax)) {
    return Fail(command, "--enrol " + std::to_string(options.enrol) + " is outside 3..11 (an enrolment merges three " +
                             "agreeing captures within 11 steps)");
  }
  if (options.extraction.dpi && (*options.extraction.dpi < kMinResolution || *options.extraction.dpi > kMaxResolution)) {
    return Fail(command, "--dpi " + std::to_string(*options.extraction.dpi) + " is outside 50..5000");
  }
  ev::EvaluationOptions run;
  std::string error;
  if (!MakeConfiguration(options.extraction, &run.config, &error)) return Fail(command, error);
  run.protocol = *protocol;
  run.threads = options.threads;
  run.enrol = options.enrol;
  run.dpi = options.extraction.dpi;
  Progress progress;
  run.progress = [&progress](const std::string& set, const char* stage, size_t done, size_t total) {
    progress(set, stage, done, total);
  };

  std::vector<ev::ImageSet> sets;
  for (const std::string& folder : options.folders) {
    if (!ev::LoadImageSets(folder, &sets, &error)) return Fail(command, error);
  }
  std::set<std::string> names;
  for (const ev::ImageSet& s : sets) {
    if (!names.insert(s.name).second) return Fail(command, "the set " + s.name + " is given twice");
  }
  std::error_code ec;
  std::filesystem::create_directories(options.out, ec);
  if (!std::filesystem::is_directory(options.out, ec)) {
    return Fail(command, "--out " + options.out + ": cannot make the folder");
  }

  ev::EvaluationSummary summary;
  summary.configuration = DescribeConfiguration(options, run.config);
  summary.protocol = run.protocol;
  summary.threshold = static_cast<int32_t>(run.config.verifyThreshold);
  summary.threads = options.threads > 0 ? options.threads : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  summary.enrol = options.enrol;
  const auto start = std::chrono::steady_clock::now();
  for (const ev::ImageSet& s : sets) summary.sets.push_back(ev::EvaluateSet(s, run));
  ev::PoolSets(&summary);
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const std::filesystem::path out(options.out);
  const std::string markdown = ev::MarkdownReport(summary, true);
  nlohmann::json json = ev::JsonReport(summary, true);
  if (!WriteText(out / "report.md", markdown, &error) || !WriteText(out / "scores.csv", ev::ScoresCsv(summary), &error)) {
    return Fail(command, error);
  }
  std::vector<std::string> files = {(out / "report.md").string(), (out / "report.json").string(),
                                    (out / "scores.csv").string()};
  const std::vector<std::string> pictures = ev::WritePlots(summary, options.out, &error);
  if (!error.empty()) return Fail(command, error);
  files.insert(files.end(), pictures.begin(), pictures.end());
  json["files"] = files;
  if (!WriteText(out / "report.json", json.dump(2) + "\n", &error)) return Fail(command, error);
  if (options.json) {
    std::cout << json.dump(2) << "\n";
  } else {
    std::cout << markdown << "\nWritten: ";
    for (size_t k = 0; k < files.size(); ++k) std::cout << (k > 0 ? ", " : "") << files[k];
    std::cout << "\n";
  }
  return 0;
}

}  // namespace

void AddEvalCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<EvalOptions>();
  CLI::App* cmd = app.add_subcommand("eval");
  SetHelp(cmd, kEvalDescription);
  cmd->add_option("FOLDER", options->folders, "a folder of one set (FINGER_IMPRESSION naming or manifest.csv)")
      ->required();
  cmd->add_option("--protocol", options->protocol, "fvc (default) or all-pairs");
  cmd->add_option("--threads", options->threads, "threads for extraction and comparisons (default 0: one per core)");
  cmd->add_option("--out", options->out, "folder for the report, scores and pictures (default vorsensor-eval)");
  cmd->add_option("--enrol", options->enrol, "also enrol each finger from its first K impressions (3..11)");
  cmd->add_flag("--json", options->json, "print the report as one JSON object");
  AddExtractionOptions(cmd, options->extraction);
  cmd->callback([options, &exitCode] { exitCode = RunEval(*options); });
}

}  // namespace vorsensor::tools
