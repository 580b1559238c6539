// vorsensor extract IMAGE: extracts the template of a fingerprint image and
// prints it with the quality, the minutia count and the time the extraction
// took; --dump writes every stage's output (see docs/diagnostics.md).
#include <array>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"
#include "imageio/image_io.h"
#include "services/template_cipher.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr const char* kExtractDescription =
    "Extract the template of a fingerprint image.\n"
    "The image (PNG, BMP, TIFF or PGM) is taken at --dpi, else at the resolution the file\n"
    "states, else at 500 dpi (with a warning), brought to 500 dpi and extracted with the\n"
    "default settings or those of scanner profile --profile and profile mode --mode.\n"
    "Prints the template text (the sealed template as 1000 hexadecimal digits; a record of\n"
    "more than 500 bytes cannot be sealed and is printed as record hex instead), quality=,\n"
    "minutiae= and extract_ms= (the extraction call alone, without file reading).\n"
    "--record adds the unsealed record as hexadecimal. --dump DIR writes every stage output\n"
    "as DIR/NN-key.pgm or .txt in the order handed over (docs/diagnostics.md lists the keys);\n"
    "when a write fails, the files of the run are removed.\n"
    "Limits: files up to 256 MiB and 32768 pixels a side; resolution 50..5000 dpi wherever it\n"
    "comes from; at 500 dpi each side 16..2048 pixels.\n"
    "Exit code: 0 done, 2 error.";

// Writes each output as the next numbered file of the folder, which it creates
// with the first output (so that a bad input leaves no folder behind). The
// first failed write stops the writing; Discard() then removes what was
// written, and the folder when this sink made it.
class FolderSink : public StageSink {
 public:
  explicit FolderSink(std::filesystem::path folder) : folder_(std::move(folder)) {}

  void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) override {
    if (error_) return;
    imageio::GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) image.pixels.insert(image.pixels.end(), rows[y], rows[y] + width);
    const std::filesystem::path path = NextPath(key, "pgm");
    if (!error_) Keep(path, imageio::WritePgm(path.string(), image));
  }

  void Text(std::string_view key, std::string_view text) override {
    if (error_) return;
    const std::filesystem::path path = NextPath(key, "txt");
    if (!error_) Keep(path, imageio::WriteFileBytes(path.string(), std::vector<uint8_t>(text.begin(), text.end())));
  }

  void Discard() {
    std::error_code ec;
    for (const std::filesystem::path& path : written_) std::filesystem::remove(path, ec);
    written_.clear();
    if (madeFolder_) std::filesystem::remove(folder_, ec);
  }

  const std::optional<std::string>& error() const { return error_; }
  int32_t written() const { return count_; }

 private:
  std::filesystem::path NextPath(std::string_view key, const char* extension) {
    if (count_ == 0) {
      std::error_code ec;
      madeFolder_ = std::filesystem::create_directories(folder_, ec);
      if (ec) error_ = "cannot create the folder: " + ec.message();
    }
    ++count_;
    std::string number = std::to_string(count_);
    if (number.size() < 2) number.insert(0, "0");
    return folder_ / (number + "-" + std::string(key) + "." + extension);
  }
  void Keep(const std::filesystem::path& path, const imageio::WriteResult& result) {
    if (result.ok()) {
      written_.push_back(path);
    } else {
      error_ = result.error;
    }
  }

  std::filesystem::path folder_;
  int32_t count_ = 0;
  bool madeFolder_ = false;
  std::vector<std::filesystem::path> written_;
  std::optional<std::string> error_;
};

struct ExtractOptions {
  std::string image;
  ExtractionOptions extraction;
  bool record = false;
  bool json = false;
  std::string dump;
};

int RunExtract(const ExtractOptions& options) {
  const std::string command = "extract";
  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  std::error_code ec;
  if (!options.dump.empty() && std::filesystem::exists(options.dump, ec) &&
      !std::filesystem::is_directory(options.dump, ec)) {
    return Fail(command, "--dump " + options.dump + ": not a folder");
  }
  FolderSink sink(options.dump);
  std::optional<Extraction> extraction =
      ExtractImageFile(options.image, options.extraction, config, options.dump.empty() ? nullptr : &sink, &error);
  if (!extraction || sink.error()) {
    sink.Discard();  // no half dump
    return Fail(command, extraction ? "--dump " + options.dump + ": " + *sink.error() : error);
  }
  if (extraction->resolutionAssumed) {
    std::cerr << "vorsensor extract: warning: " << options.image << " states no resolution; taking "
              << kAssumedDpi << " dpi\n";
  }

  const std::vector<uint8_t>& record = extraction->record;
  const bool sealable = record.size() <= static_cast<size_t>(kSealedTemplateBytes);
  std::string text;
  if (sealable) {
    std::array<uint8_t, kSealedTemplateBytes> sealed{};
    SealTemplateRecord(record.data(), record.size(), sealed.data());
    text = HexOf(sealed.data(), sealed.size());
  }
  const std::string recordHex = HexOf(record.data(), record.size());
  const int32_t minutiae = extraction->features->minutiaCount;

  if (options.json) {
    nlohmann::json out = {{"image", options.image},
                          {"width", extraction->image.width},
                          {"height", extraction->image.height},
                          {"dpi", extraction->resolution},
                          {"dpi_assumed", extraction->resolutionAssumed},
                          {"quality", extraction->quality},
                          {"minutiae", minutiae},
                          {"record_bytes", record.size()},
                          {"extract_ms", extraction->milliseconds}};
    out["template"] = sealable ? nlohmann::json(text) : nlohmann::json(nullptr);
    if (options.record || !sealable) out["record"] = recordHex;
    if (!options.dump.empty()) out["dump"] = {{"folder", options.dump}, {"files", sink.written()}};
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  if (sealable) {
    std::cout << "template=" << text << "\n";
    if (options.record) std::cout << "record=" << recordHex << "\n";
  } else {
    std::cout << "# the record is " << record.size() << " bytes, more than the " << kSealedTemplateBytes
              << " bytes a sealed template holds; the record itself:\n"
              << "record=" << recordHex << "\n";
  }
  std::cout << "quality=" << extraction->quality << "\n"
            << "minutiae=" << minutiae << "\n"
            << "extract_ms=" << std::fixed << std::setprecision(3) << extraction->milliseconds << "\n";
  if (!options.dump.empty()) std::cout << "# " << sink.written() << " stage outputs in " << options.dump << "\n";
  return 0;
}

}  // namespace

void AddExtractCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd = app.add_subcommand("extract");
  SetHelp(cmd, kExtractDescription);
  cmd->add_option("IMAGE", options->image, "fingerprint image file")->required();
  AddExtractionOptions(cmd, options->extraction);
  cmd->add_flag("--record", options->record, "print the unsealed record as upper-case hexadecimal too");
  cmd->add_option("--dump", options->dump, "folder for every stage's output (created when missing)");
  cmd->add_flag("--json", options->json, "print one JSON object instead of the text");
  cmd->callback([options, &exitCode] { exitCode = RunExtract(*options); });
}

}  // namespace vorsensor::tools
