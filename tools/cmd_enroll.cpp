// vorsensor enroll INPUT...: runs an enrolment run over templates in order and
// prints every step's status and the enrolled template.
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>
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

namespace vorsensor::tools {
namespace {

constexpr size_t kSealedTextLength = 2 * kSealedTemplateBytes;
constexpr uintmax_t kLargestInputFile = 1 << 20;
constexpr int32_t kDefaultQuality = 200;
constexpr int32_t kQualityMax = 255;

constexpr const char* kDescription =
    "Enrol a finger from several captures.\n"
    "Each INPUT is a template text (1000 hexadecimal digits), the hexadecimal bytes of a\n"
    "template record (at most 500 bytes), or a file holding either. The inputs go through one\n"
    "enrolment run in order (rejection limit 10, at most 11 captures looked at): a capture below\n"
    "quality 120 is rejected, the others are compared with every earlier accepted one, and the\n"
    "first three that agree pair by pair are merged into the enrolled template. A template has no\n"
    "image quality of its own, so each counts as --quality.\n"
    "Prints each step's status and, when the run completes, the enrolled template text (to FILE\n"
    "with -o); --record also prints the merged template record as hexadecimal bytes.\n"
    "Exit code: 0 the run completed, 1 it did not, 2 bad input.";

struct Options {
  std::vector<std::string> inputs;
  std::string output;
  int32_t quality = kDefaultQuality;
  bool record = false;
  bool json = false;
};

struct Capture {
  std::string name;
  std::vector<uint8_t> record;  // the unsealed template record
};

std::optional<std::string> LoadText(const std::string& argument, std::string* error) {
  std::string raw = argument;
  std::error_code ec;
  if (std::filesystem::is_regular_file(argument, ec)) {
    if (std::filesystem::file_size(argument, ec) > kLargestInputFile) {
      *error = argument + ": file is larger than 1 MiB, too large for a template";
      return std::nullopt;
    }
    std::ifstream in(argument, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    if (!in) {
      *error = argument + ": cannot read the file";
      return std::nullopt;
    }
    raw = contents.str();
  }
  std::string text;
  for (const char c : raw) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) text.push_back(c);
  }
  return text;
}

bool Readable(const uint8_t* record, size_t length) {
  auto set = std::make_unique<FeatureSet>();
  return ReadTemplateRecord(record, length, set.get()) >= 0;
}

// A template text opens into its record; any other hexadecimal text is a record.
std::optional<Capture> Interpret(const std::string& argument, std::string* error) {
  const std::optional<std::string> text = LoadText(argument, error);
  if (!text) return std::nullopt;
  if (text->empty() || text->size() % 2 != 0 ||
      text->find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    *error = argument + ": not an even number of hexadecimal digits (a template text or record)";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(text->size() / 2);
  DecodeTemplateText(*text, bytes.data(), bytes.size());
  Capture capture{argument, {}};
  if (text->size() == kSealedTextLength) {
    std::vector<uint8_t> record(kSealedTemplateBytes);
    OpenSealed(MakeTemplateKey(), bytes.data(), record.data());
    if (Readable(record.data(), record.size())) {
      capture.record = record;
      return capture;
    }
  }
  if (bytes.size() > static_cast<size_t>(kSealedTemplateBytes)) {
    *error = argument + ": " + std::to_string(bytes.size()) + " bytes, longer than a template's 500";
    return std::nullopt;
  }
  if (!Readable(bytes.data(), bytes.size())) {
    *error = argument + ": neither a template text nor a readable template record";
    return std::nullopt;
  }
  capture.record = bytes;
  return capture;
}

struct RunInputs {
  const std::vector<Capture>* captures;
  int32_t quality;
  static int32_t Extract(void* context, int32_t, int32_t, int32_t, uint8_t* image, uint8_t* record, int32_t capacity,
                         int32_t* length) {
    const auto* self = static_cast<RunInputs*>(context);
    const Capture& capture = (*self->captures)[image[0]];
    const int32_t n = static_cast<int32_t>(capture.record.size());
    if (record == nullptr || n > capacity) return kMissingArgument;
    std::copy(capture.record.begin(), capture.record.end(), record);
    *length = n;
    return self->quality;
  }
};

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t k = 0; k < count; ++k) {
    text.push_back(kDigits[bytes[k] >> 4]);
    text.push_back(kDigits[bytes[k] & 15]);
  }
  return text;
}

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

struct EngineStart {
  int32_t result = InitEngine();
  ~EngineStart() {
    if (result >= 0) ReleaseEngine();
  }
};

int RunEnroll(const Options& options) {
  if (options.quality < 0 || options.quality > kQualityMax) {
    std::cerr << "vorsensor enroll: --quality " << options.quality << " is outside 0..255\n";
    return 2;
  }
  std::vector<Capture> captures;
  for (const std::string& input : options.inputs) {
    std::string error;
    std::optional<Capture> capture = Interpret(input, &error);
    if (!capture) {
      std::cerr << "vorsensor enroll: " << error << "\n";
      return 2;
    }
    captures.push_back(std::move(*capture));
  }
  if (captures.size() > 255) {
    std::cerr << "vorsensor enroll: " << captures.size() << " inputs, more than 255\n";
    return 2;
  }
  const EngineStart engine;
  if (engine.result < 0) {
    std::cerr << "vorsensor enroll: the engine cannot start (code " << engine.result << ")\n";
    return 2;
  }
  RunInputs inputs{&captures, options.quality};
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
    const bool accepted = options.quality >= kEnrollQualityMin;
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
    recordHex = Hex(record.data(), used > 0 ? static_cast<size_t>(used) : 0);
  }
  if (complete && !options.output.empty()) {
    std::ofstream out(options.output, std::ios::binary);
    out << text.data() << "\n";
    if (!out) {
      std::cerr << "vorsensor enroll: " << options.output << ": cannot write the template\n";
      return 2;
    }
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
  CLI::App* cmd = app.add_subcommand("enroll", kDescription);
  auto options = std::make_shared<Options>();
  cmd->add_option("INPUT", options->inputs, "captures in order: template text, record hex or file")->required();
  cmd->add_option("-o,--output", options->output, "write the enrolled template text to FILE");
  cmd->add_option("--quality", options->quality, "quality each template counts as (0..255, default 200)");
  cmd->add_flag("--record", options->record, "also print the merged template record as hexadecimal bytes");
  cmd->add_flag("--json", options->json, "print one JSON object");
  cmd->callback([&exitCode, options] { exitCode = RunEnroll(*options); });
}

}  // namespace vorsensor::tools
