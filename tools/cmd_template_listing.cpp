// vorsensor inspect TEMPLATE: decodes a template and lists what it holds.
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr int32_t kDirectionUnitsPerTurn = 240;
constexpr double kDegreesPerTurn = 360.0;

constexpr const char* kTemplateListingDescription =
    "Decode a template and list what it holds.\n"
    "TEMPLATE is a template text, record hex, a file of either, or a fingerprint image\n"
    "(extracted with --dpi, --profile and --mode). Lists the record's flags, the density\n"
    "byte, every minutia (x, y, type, direction in degrees and in units of 1/240 turn,\n"
    "orientation spread and density value; 255 means none), the singular points and the\n"
    "block grid size. Exit code: 0 done, 2 error.";

struct InspectOptions {
  std::string input;
  bool json = false;
  ExtractionOptions extraction;
};

const char* MinutiaTypeName(int32_t type) { return type == kMinutiaEnding ? "ending" : "bifurcation"; }

const char* SingularKindName(int32_t kind) {
  switch (kind) {
    case 1: return "core";
    case 2: return "whorl";
    case 3: return "delta";
    default: return "other";
  }
}

double Degrees(int32_t units) { return units * kDegreesPerTurn / kDirectionUnitsPerTurn; }

int RunInspect(const InspectOptions& options) {
  const std::string command = "inspect";
  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  const std::optional<LoadedTemplate> loaded = LoadTemplate(options.input, "TEMPLATE", options.extraction, config, &error);
  if (!loaded) return Fail(command, error);
  auto set = std::make_unique<FeatureSet>();
  const int32_t used = ReadTemplateRecord(loaded->record.data(), loaded->record.size(), set.get());
  if (used < 0) return Fail(command, "TEMPLATE: the record does not read (code " + std::to_string(used) + ")");
  const uint8_t flags = loaded->record[0];

  if (options.json) {
    nlohmann::json out;
    out["name"] = loaded->name;
    out["kind"] = loaded->kind;
    out["record_bytes"] = used;
    out["flags"] = {{"value", flags},
                    {"spreads", (flags & kRecordHasSpreads) != 0},
                    {"singular_points", (flags & kRecordHasSingularPoints) != 0},
                    {"grid", (flags & kRecordHasGrid) != 0},
                    {"densities", (flags & kRecordHasDensities) != 0}};
    out["density_byte"] = set->densityByte;
    if (loaded->quality) out["quality"] = *loaded->quality;
    nlohmann::json minutiae = nlohmann::json::array();
    for (int32_t i = 0; i < set->minutiaCount; ++i) {
      const Minutia& m = set->minutiae[i];
      minutiae.push_back({{"x", m.x}, {"y", m.y}, {"type", MinutiaTypeName(m.type)},
                          {"direction_units", m.direction}, {"direction_degrees", Degrees(m.direction)},
                          {"spread", m.spread}, {"density", m.density}});
    }
    out["minutiae"] = minutiae;
    nlohmann::json singular = nlohmann::json::array();
    for (int32_t i = 0; i < set->singularCount; ++i) {
      const SingularPoint& p = set->singular[i];
      singular.push_back({{"x", p.x}, {"y", p.y}, {"kind", SingularKindName(p.kind)}, {"direction_units", p.direction}});
    }
    out["singular_points"] = singular;
    out["grid"] = {{"width", set->gridWidth}, {"height", set->gridHeight}};
    std::cout << out.dump(2) << "\n";
    return 0;
  }

  std::ostringstream text;
  text << loaded->kind << " " << loaded->name << ": " << used << " record bytes\n";
  text << "flags: 0x" << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << int{flags} << std::dec
       << std::setfill(' ');
  const char* names[] = {"spreads", "singular points", "grid", "densities"};
  for (int bit = 0; bit < 4; ++bit) {
    if ((flags >> bit) & 1) text << " " << names[bit];
  }
  text << "\ndensity byte: " << int{set->densityByte} << "\n";
  if (loaded->quality) text << "quality: " << *loaded->quality << "\n";
  text << "minutiae: " << set->minutiaCount << "\n";
  if (set->minutiaCount > 0) text << "     x     y  type         direction (units, deg)  spread  density\n";
  for (int32_t i = 0; i < set->minutiaCount; ++i) {
    const Minutia& m = set->minutiae[i];
    text << std::setw(6) << m.x << std::setw(6) << m.y << "  " << std::left << std::setw(12) << MinutiaTypeName(m.type)
         << std::right << std::setw(5) << int{m.direction} << std::setw(8) << std::fixed << std::setprecision(1)
         << Degrees(m.direction) << std::setw(17) << int{m.spread} << std::setw(9) << int{m.density} << "\n";
  }
  text << "singular points: " << set->singularCount << "\n";
  for (int32_t i = 0; i < set->singularCount; ++i) {
    const SingularPoint& p = set->singular[i];
    text << std::setw(6) << p.x << std::setw(6) << p.y << "  " << SingularKindName(p.kind) << " direction "
         << int{p.direction} << "\n";
  }
  if (set->gridWidth > 0) {
    text << "grid: " << set->gridWidth << " x " << set->gridHeight << "\n";
  } else {
    text << "grid: none\n";
  }
  std::cout << text.str();
  return 0;
}

}  // namespace

void AddInspectCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* cmd = app.add_subcommand("inspect");
  SetHelp(cmd, kTemplateListingDescription);
  cmd->add_option("TEMPLATE", options->input, "template text, record hex, template file or image")->required();
  cmd->add_flag("--json", options->json, "print one JSON object instead of the text");
  AddExtractionOptions(cmd, options->extraction);
  cmd->callback([options, &exitCode] { exitCode = RunInspect(*options); });
}

}  // namespace vorsensor::tools
