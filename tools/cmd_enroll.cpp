// vorsensor enroll INPUT...: runs an enrolment run over templates in order and
// prints every step's status and the enrolled template.
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "component/template_text.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/result_codes.h"
#include "engine/template_record.h"
#include "services/enrollment_run.h"
#include "services/opened_template.h"
#include "services/template_cipher.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr int32_t kDefaultQuality = 200;
constexpr int32_t kQualityMax = 255;
constexpr size_t kMaxInputs = 255;  // inputs are named to the run by one byte

constexpr const char* kEnrollDescription =
    "Enrol a finger from several captures.\n"
    "Each INPUT is a fingerprint image (PNG, BMP, TIFF or PGM; extracted with --dpi, --profile\n"
    "and --mode, its quality from the extraction), a template text (1000 hexadecimal digits),\n"
    "the hexadecimal bytes of a template record, or a file holding either. The inputs go through one\n"
    "enrolment run in order (rejection limit 10, at most 11 captures looked at): a capture below\n"
    "quality 120 is rejected, the others are compared with every earlier accepted one, and the\n"
    "first three that agree pair by pair are merged into the enrolled template. A template has no\n"
    "image quality of its own, so it counts as --quality (default 200).\n"
    "Prints each step's status and, when the run completes, the enrolled template text (to FILE\n"
    "with -o); --record also prints the merged template record as hexadecimal bytes.\n"
    "Exit code: 0 the run completed, 1 it did not, 2 bad input.";

struct Options {
  std::vector<std::string> inputs;
  std::string output;
  ExtractionOptions extraction;
  int32_t quality = kDefaultQuality;
  bool record = false;
  bool json = false;
};

struct Capture {
  std::string name;
  std::vector<uint8_t> record;  // the unsealed template record
  int32_t quality;              // the extraction's for images, else --quality
};

struct RunInputs {
  const std::vector<Capture>* captures;
  static int32_t Extract(void* context, int32_t, int32_t, int32_t, uint8_t* image, uint8_t* record, int32_t capacity,
                         int32_t* length) {
    const auto* self = static_cast<RunInputs*>(context);
    const Capture& capture = (*self->captures)[image[0]];
    const int32_t n = static_cast<int32_t>(capture.record.size());
    if (record == nullptr || n > capacity) return kMissingArgument;
    std::copy(capture.record.begin(), capture.record.end(), record);
    *length = n;
    return capture.quality;
  }
};

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (static_cast<unsigned char>(c) < 0x20) continue;
    out.push_back(c);
  }
  return out + "\"";
}

std::string Outcome(int32_t status, bool accepted) {
  switch (status) {
    case kEnrollComplete: return "complete";
    case kEnrollMoreNeeded: return accepted ? "accepted, needs more" : "rejected for quality, needs more";
    case kEnrollMergeFailed: return "failed: the merge failed";
    case kEnrollTooManyRejections: return "failed: rejection limit reached";
    case kEnrollTooManySteps: return "failed: step limit reached";
    case kEnrollOutOfMemory: return "failed: out of memory";
    default: return "failed: no active run";
  }
}

int RunEnroll(const Options& options) {
  const std::string command = "enroll";
  if (options.quality < 0 || options.quality > kQualityMax) {
    return Fail(command, "--quality " + std::to_string(options.quality) + " is outside 0..255");
  }
  if (options.inputs.size() > kMaxInputs) {
    return Fail(command, std::to_string(options.inputs.size()) + " inputs, more than " + std::to_string(kMaxInputs));
  }
  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  std::vector<Capture> captures;
  for (const std::string& input : options.inputs) {
    std::optional<LoadedTemplate> loaded = LoadTemplate(input, input, options.extraction, config, &error);
    if (!loaded) return Fail(command, error);
    if (loaded->record.size() > kEnrollSlotBytes) {
      return Fail(command, input + ": the template record is " + std::to_string(loaded->record.size()) +
                               " bytes, more than a capture slot's " + std::to_string(kEnrollSlotBytes));
    }
    captures.push_back(Capture{loaded->name, loaded->record, loaded->quality ? *loaded->quality : options.quality});
  }
  const EngineStart engine;
  if (engine.result < 0) return Fail(command, "the engine cannot start (code " + std::to_string(engine.result) + ")");
  RunInputs inputs{&captures};
  EnrollmentHooks hooks;
  hooks.context = &inputs;
  hooks.extract = &RunInputs::Extract;
  auto run = std::make_unique<EnrollmentRun>();
  BeginEnrollment(run.get(), kEnrollRejectionLimit, hooks);
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
  int32_t status = kEnrollMoreNeeded;
  std::ostringstream steps;
  std::ostringstream jsonSteps;
  for (size_t k = 0; k < captures.size() && status == kEnrollMoreNeeded; ++k) {
    uint8_t image = static_cast<uint8_t>(k);
    int32_t length = 0;
    EnrollStep(run.get(), kEnrollResolution, 0, 0, &image, sealed.data(), &length, &status);
    const bool accepted = captures[k].quality >= kEnrollQualityMin;
    std::string outcome = Outcome(status, accepted);
    if (status == kEnrollComplete) {
      outcome += " (merge slots " + std::to_string(run->mergeIndices[0]) + ", " +
                 std::to_string(run->mergeIndices[1]) + ", " + std::to_string(run->mergeIndices[2]) + ")";
    }
    steps << "step " << k + 1 << " " << captures[k].name << ": " << outcome << "\n";
    jsonSteps << (k > 0 ? "," : "") << "{\"input\":" << JsonString(captures[k].name) << ",\"status\":" << status
              << ",\"outcome\":" << JsonString(outcome) << "}";
  }
  const bool complete = status == kEnrollComplete;
  std::array<char, kTemplateTextBufferSize> text{};
  std::string recordHex;
  if (complete) {
    EncodeTemplateText(sealed.data(), kSealedTemplateBytes, text.data(), text.size());
    std::array<uint8_t, kSealedTemplateBytes> record{};
    OpenSealed(MakeTemplateKey(), sealed.data(), record.data());
    auto set = std::make_unique<FeatureSet>();
    const int32_t used = ReadTemplateRecord(record.data(), record.size(), set.get());
    recordHex = HexOf(record.data(), used > 0 ? static_cast<size_t>(used) : 0);
  }
  if (complete && !options.output.empty()) {
    std::ofstream out(options.output, std::ios::binary);
    out << text.data() << "\n";
    if (!out) return Fail(command, options.output + ": cannot write the template");
  }
  if (options.json) {
    std::cout << "{\"steps\":[" << jsonSteps.str() << "],\"complete\":" << (complete ? "true" : "false");
    if (complete) {
      std::cout << ",\"mergeSlots\":[" << run->mergeIndices[0] << "," << run->mergeIndices[1] << ","
                << run->mergeIndices[2] << "]";
      if (options.output.empty()) std::cout << ",\"template\":\"" << text.data() << "\"";
      if (options.record) std::cout << ",\"record\":\"" << recordHex << "\"";
    }
    std::cout << "}\n";
  } else {
    std::cout << steps.str();
    if (!complete && status == kEnrollMoreNeeded) std::cout << "the inputs ran out before the run completed\n";
    if (complete && options.output.empty()) std::cout << "template: " << text.data() << "\n";
    if (complete && options.record) std::cout << "record: " << recordHex << "\n";
  }
  return complete ? 0 : 1;
}

}  // namespace

void AddEnrollCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("enroll");
  SetHelp(cmd, kEnrollDescription);
  auto options = std::make_shared<Options>();
  cmd->add_option("INPUT", options->inputs, "captures in order: image, template text, record hex or file")->required();
  cmd->add_option("-o,--output", options->output, "write the enrolled template text to FILE");
  AddExtractionOptions(cmd, options->extraction);
  cmd->add_option("--quality", options->quality, "quality each template counts as (0..255, default 200)");
  cmd->add_flag("--record", options->record, "also print the merged template record as hexadecimal bytes");
  cmd->add_flag("--json", options->json, "print one JSON object");
  cmd->callback([&exitCode, options] { exitCode = RunEnroll(*options); });
}

}  // namespace vorsensor::tools
