#pragma once
// The inputs the vorsensor sub-commands share: the extraction options
// (--dpi, --profile, --mode) and the configuration they make, fingerprint
// images extracted on the fly, and templates given as template texts, record
// hex or files of either.
#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "imageio/grey_image.h"
#include "services/template_cipher.h"

namespace vorsensor {
class StageSink;
}

namespace vorsensor::tools {

constexpr int32_t kAssumedDpi = 500;  // when neither --dpi nor the file states a resolution

struct ExtractionOptions {
  std::optional<int32_t> dpi;
  std::optional<int32_t> profile;
  std::optional<int32_t> mode;
};

// Registers --dpi, --profile and --mode on `cmd`.
void AddExtractionOptions(CLI::App* cmd, ExtractionOptions& options);

// A private configuration with the defaults, the profile and the mode of the
// options; false with a message for an unknown profile or mode.
bool MakeConfiguration(const ExtractionOptions& options, EngineConfiguration* config, std::string* error);

// A fingerprint image run through ExtractTemplate.
struct Extraction {
  imageio::GreyImage image;       // as read from the file
  int32_t resolution = 0;
  bool resolutionAssumed = false; // neither --dpi nor the file gave one
  int32_t quality = 0;            // the image quality (or ExtractTemplate's answer)
  std::vector<uint8_t> record;    // the template record, exactly as long as it is
  std::unique_ptr<FeatureSet> features;
  double milliseconds = 0;        // the ExtractTemplate call alone
};

// Reads and extracts the image file at `path`. On failure returns nothing and
// sets `error` to one line naming the file and the limit it breaks.
std::optional<Extraction> ExtractImageFile(const std::string& path, const ExtractionOptions& options,
                                           const EngineConfiguration& config, StageSink* sink, std::string* error);

// A template from any of the forms the tools accept.
struct LoadedTemplate {
  std::string name;             // the argument, or the file's path
  std::string kind;             // "sealed template", "template record" or "image"
  std::vector<uint8_t> record;  // the unsealed record (a sealed one opened: 500 bytes)
  std::optional<std::array<uint8_t, kSealedTemplateBytes>> sealed;  // as given, for sealed templates
  int32_t minutiae = 0;
  std::optional<int32_t> quality;  // images only
};

// `argument` is a template text (1000 hexadecimal digits that open into a
// readable record), record hex, or a file holding either or a fingerprint
// image (extracted with `options` / `config`). `label` names the argument in
// messages ("A", "PROBE"). On failure returns nothing and sets `error`.
std::optional<LoadedTemplate> LoadTemplate(const std::string& argument, const std::string& label,
                                           const ExtractionOptions& options, const EngineConfiguration& config,
                                           std::string* error);

// True when the file looks like something LoadTemplate reads: hexadecimal text
// or an image format it knows (used to pick the entries of a folder).
bool LooksLikeTemplateOrImage(const std::string& path);

// The sealed 500 bytes of a template: as given, or its record sealed; nothing
// (and `error` set) when the record is longer than a sealed template holds.
std::optional<std::array<uint8_t, kSealedTemplateBytes>> SealedOf(const LoadedTemplate& t, std::string* error);

// Upper-case hexadecimal digits of bytes.
std::string HexOf(const uint8_t* bytes, size_t count);

// Keeps the engine started for the length of a command.
struct EngineStart {
  int32_t result;
  EngineStart();
  ~EngineStart();
  EngineStart(const EngineStart&) = delete;
  EngineStart& operator=(const EngineStart&) = delete;
};

// Prints one error line "vorsensor COMMAND: message" and returns exit code 2.
int Fail(const std::string& command, const std::string& message);

}  // namespace vorsensor::tools
