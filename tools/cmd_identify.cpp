// vorsensor identify PROBE GALLERY...: the first gallery entry that matches
// the probe, as the component's Identify answers, searched in parallel.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "component/template_methods.h"
#include "component/template_text.h"
#include "services/best_score.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr const char* kIdentifyDescription =
    "Find the first gallery entry that matches the probe.\n"
    "PROBE and each GALLERY entry are template texts, record hex, files of either, or\n"
    "fingerprint images (extracted with --dpi, --profile and --mode). A GALLERY folder\n"
    "stands for its files in name order (files that are neither templates nor images are\n"
    "skipped). Entries are numbered from 0 in the order given; the answer is the lowest\n"
    "matching number, as the component's Identify gives it (threshold 48), found on every\n"
    "core. --scores adds every entry's graded score (the matcher with threshold 0).\n"
    "Exit code: 0 a match, 1 none, 2 error.";

struct IdentifyOptions {
  std::string probe;
  std::vector<std::string> gallery;
  bool scores = false;
  bool json = false;
  int32_t threads = 0;
  ExtractionOptions extraction;
};

struct Entry {
  std::string name;
  LoadedTemplate loaded;
  std::string text;  // the sealed template as text
};

// Files and folders as a list of files; false with a message for a missing one.
bool ExpandGallery(const std::vector<std::string>& arguments, std::vector<std::string>* files, std::string* error) {
  for (const std::string& argument : arguments) {
    std::error_code ec;
    if (!std::filesystem::is_directory(argument, ec)) {
      files->push_back(argument);
      continue;
    }
    std::vector<std::string> inside;
    for (const auto& item : std::filesystem::directory_iterator(argument, ec)) {
      const std::string name = item.path().filename().string();
      if (name.empty() || name[0] == '.' || !item.is_regular_file(ec)) continue;
      if (LooksLikeTemplateOrImage(item.path().string())) inside.push_back(item.path().string());
    }
    if (ec) {
      *error = "GALLERY (" + argument + "): cannot list the folder: " + ec.message();
      return false;
    }
    std::sort(inside.begin(), inside.end());
    files->insert(files->end(), inside.begin(), inside.end());
  }
  return true;
}

int RunIdentify(const IdentifyOptions& options) {
  const std::string command = "identify";
  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  std::vector<std::string> files;
  if (!ExpandGallery(options.gallery, &files, &error)) return Fail(command, error);
  if (files.empty()) return Fail(command, "GALLERY: no templates or images found");

  const std::optional<LoadedTemplate> probe = LoadTemplate(options.probe, "PROBE", options.extraction, config, &error);
  if (!probe) return Fail(command, error);
  const auto probeSealed = SealedOf(*probe, &error);
  if (!probeSealed) return Fail(command, "PROBE: " + error);
  std::vector<Entry> entries;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string label = "GALLERY entry " + std::to_string(i);
    std::optional<LoadedTemplate> loaded = LoadTemplate(files[i], label, options.extraction, config, &error);
    if (!loaded) return Fail(command, error);
    const auto sealed = SealedOf(*loaded, &error);
    if (!sealed) return Fail(command, label + ": " + error);
    entries.push_back(Entry{files[i], std::move(*loaded), HexOf(sealed->data(), sealed->size())});
  }

  const EngineStart engine;
  if (engine.result < 0) return Fail(command, "the engine cannot start (code " + std::to_string(engine.result) + ")");
  const std::string probeText = HexOf(probeSealed->data(), probeSealed->size());
  std::vector<std::string_view> references;
  for (const Entry& e : entries) references.push_back(e.text);
  const int32_t index = IdentifyParallel(probeText, references, options.threads, &config);

  std::vector<int32_t> scores;
  if (options.scores) {
    for (const Entry& e : entries) {
      std::array<uint8_t, kSealedTemplateBytes> sealed{};
      DecodeTemplateText(e.text, sealed.data(), sealed.size());
      const int32_t score = BestScoreOfTemplates(probeSealed->data(), sealed.data(), &config);
      if (score < 0) return Fail(command, e.name + ": the matcher failed (code " + std::to_string(score) + ")");
      scores.push_back(score);
    }
  }

  if (options.json) {
    nlohmann::json out;
    out["probe"] = {{"name", probe->name}, {"kind", probe->kind}, {"minutiae", probe->minutiae}};
    out["match"] = index >= 0 ? nlohmann::json{{"index", index}, {"name", entries[static_cast<size_t>(index)].name}}
                              : nlohmann::json(nullptr);
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < entries.size(); ++i) {
      nlohmann::json item = {{"index", i}, {"name", entries[i].name}, {"kind", entries[i].loaded.kind},
                             {"minutiae", entries[i].loaded.minutiae}};
      if (options.scores) item["score"] = scores[i];
      list.push_back(item);
    }
    out["gallery"] = list;
    std::cout << out.dump(2) << "\n";
  } else {
    if (options.scores) {
      for (size_t i = 0; i < entries.size(); ++i) {
        std::cout << i << " score " << scores[i] << " " << entries[i].name << "\n";
      }
    }
    if (index >= 0) {
      std::cout << "match: " << index << " " << entries[static_cast<size_t>(index)].name << "\n";
    } else {
      std::cout << "none\n";
    }
  }
  return index >= 0 ? 0 : 1;
}

}  // namespace

void AddIdentifyCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<IdentifyOptions>();
  CLI::App* cmd = app.add_subcommand("identify");
  SetHelp(cmd, kIdentifyDescription);
  cmd->add_option("PROBE", options->probe, "probe: template text, record hex, template file or image")->required();
  cmd->add_option("GALLERY", options->gallery, "gallery entries: files or folders of templates or images")
      ->required();
  cmd->add_flag("--scores", options->scores, "list every entry's graded score");
  cmd->add_option("--threads", options->threads, "search threads (default: one per core)");
  cmd->add_flag("--json", options->json, "print one JSON object instead of the text");
  AddExtractionOptions(cmd, options->extraction);
  cmd->callback([options, &exitCode] { exitCode = RunIdentify(*options); });
}

}  // namespace vorsensor::tools
