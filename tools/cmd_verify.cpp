// vorsensor verify A B: compares two templates or fingerprint images, prints
// the best score and the verification answer.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/engine_configuration.h"
#include "engine/result_codes.h"
#include "matching/match_workspace.h"
#include "matching/matcher.h"
#include "services/prepared_sample.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr const char* kVerifyDescription =
    "Compare two fingerprints.\n"
    "A and B are each a template text (a sealed template as 1000 hexadecimal digits), the\n"
    "hexadecimal bytes of an unsealed template record (longer than 500 bytes too), a file\n"
    "holding either (white space is ignored, a UTF-8 byte-order mark skipped; at most 1 MiB,\n"
    "a pipe such as <(command) is read too), or a fingerprint image, extracted on the fly\n"
    "with --dpi, --profile and --mode. An argument that names an existing file is always\n"
    "read as that file; any other must be hexadecimal digits: one with '/' or '.' or any\n"
    "other character is reported as a missing file, and when hexadecimal digits that name\n"
    "no file are not a template either, the error says no file has that name (write ./NAME\n"
    "to mean a file). A text of exactly 1000 digits that opens into a readable record is\n"
    "taken as a sealed template; any other text is read as a record.\n"
    "The profile's matching parameters apply to the comparison too.\n"
    "Prints the best score (the matcher with threshold 0) and the verification answer\n"
    "(B prepared as the probe, threshold 48): \"match\" or \"no match\".\n"
    "Exit code: 0 match, 1 no match, 2 error.";

struct VerifyOptions {
  std::string a;
  std::string b;
  bool json = false;
  ExtractionOptions extraction;
};

// The matcher on B (the probe) and A with `threshold`: its answer, and the
// best score in *score.
int32_t Compare(const LoadedTemplate& a, const LoadedTemplate& b, int32_t threshold,
                const EngineConfiguration& config, int32_t* score) {
  MatchWorkspacePtr workspace(CreateMatchWorkspace());
  if (!workspace) return kOutOfMemory;
  MatchDetails details{};
  details.size = kDetailsShortSize;
  const int32_t answer = MatchPair(workspace.get(), b.record.data(), b.record.size(), a.record.data(), a.record.size(),
                                   static_cast<int32_t>(config.verifyRotationTolerance), threshold, &config, &details,
                                   sizeof(details));
  *score = details.score;
  return answer;
}

nlohmann::json Describe(const LoadedTemplate& t) {
  nlohmann::json out = {{"name", t.name}, {"kind", t.kind}, {"minutiae", t.minutiae}, {"record_bytes", t.record.size()}};
  if (t.quality) out["quality"] = *t.quality;
  return out;
}

int RunVerify(const VerifyOptions& options) {
  const std::string command = "verify";
  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  const std::optional<LoadedTemplate> first = LoadTemplate(options.a, "A", options.extraction, config, &error);
  if (!first) return Fail(command, error);
  const std::optional<LoadedTemplate> second = LoadTemplate(options.b, "B", options.extraction, config, &error);
  if (!second) return Fail(command, error);

  int32_t score = 0;
  const int32_t graded = Compare(*first, *second, 0, config, &score);
  if (graded < 0) return Fail(command, "the matcher failed (code " + std::to_string(graded) + ")");
  int32_t unused = 0;
  const int32_t threshold = static_cast<int32_t>(config.verifyThreshold);
  const int32_t answer = Compare(*first, *second, threshold, config, &unused);
  if (answer < -1) return Fail(command, "the matcher failed (code " + std::to_string(answer) + ")");
  const bool match = answer == 0;

  if (options.json) {
    const nlohmann::json out = {{"a", Describe(*first)}, {"b", Describe(*second)}, {"score", score},
                                {"threshold", threshold}, {"match", match}};
    std::cout << out.dump(2) << "\n";
  } else {
    auto line = [](const char* label, const LoadedTemplate& t) {
      std::cout << label << ": " << t.kind << ", " << t.minutiae << " minutiae";
      if (t.quality) std::cout << ", quality " << *t.quality;
      std::cout << "\n";
    };
    line("A", *first);
    line("B", *second);
    std::cout << "score: " << score << "\n" << (match ? "match" : "no match") << "\n";
  }
  return match ? 0 : 1;
}

}  // namespace

void AddVerifyCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* cmd = app.add_subcommand("verify");
  SetHelp(cmd, kVerifyDescription);
  cmd->add_option("A", options->a, "first: template text, record hex, template file or image")->required();
  cmd->add_option("B", options->b, "second (prepared as the probe): the same forms")->required();
  cmd->add_flag("--json", options->json, "print one JSON object instead of the text");
  AddExtractionOptions(cmd, options->extraction);
  cmd->callback([options, &exitCode] { exitCode = RunVerify(*options); });
}

}  // namespace vorsensor::tools
