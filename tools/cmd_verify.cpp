// vorsensor verify A B: compares two templates, prints the best score and the
// verification answer.
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

#include "component/template_methods.h"
#include "component/template_text.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "services/opened_template.h"
#include "services/template_cipher.h"
#include "tools/command.h"

namespace vorsensor::tools {
namespace {

constexpr size_t kSealedTextLength = 2 * kSealedTemplateBytes;
constexpr uintmax_t kLargestInputFile = 1 << 20;

constexpr const char* kDescription =
    "Compare two fingerprint templates.\n"
    "A and B are each a template text (a sealed template as 1000 hexadecimal digits), the\n"
    "hexadecimal bytes of an unsealed template record (at most 500 bytes), or the name of a\n"
    "file holding either (white space is ignored). A text of exactly 1000 digits that opens\n"
    "into a readable record is taken as a sealed template; any other text is read as a raw\n"
    "record, which is sealed before matching.\n"
    "Prints the best score (the matcher with threshold 0) and the verification answer\n"
    "(threshold 48, B prepared as the probe): \"match\" or \"no match\".\n"
    "Exit code: 0 match, 1 no match, 2 error.";

struct Template {
  std::string kind;
  int32_t minutiae = 0;
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
};

// The argument's text: the file's contents when it names a file, else itself;
// white space removed either way.
std::optional<std::string> LoadText(const std::string& argument, std::string* error) {
  std::string raw = argument;
  std::error_code ec;
  if (std::filesystem::is_regular_file(argument, ec)) {
    if (std::filesystem::file_size(argument, ec) > kLargestInputFile) {
      *error = "file " + argument + " is too large for a template";
      return std::nullopt;
    }
    std::ifstream in(argument, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    if (!in) {
      *error = "cannot read file " + argument;
      return std::nullopt;
    }
    raw = contents.str();
  }
  std::string text;
  for (const char c : raw) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) {
      text.push_back(c);
    }
  }
  return text;
}

std::vector<uint8_t> HexBytes(const std::string& text) {
  std::vector<uint8_t> bytes(text.size() / 2);
  DecodeTemplateText(text, bytes.data(), bytes.size());
  return bytes;
}

// The number of minutiae of a readable record in the first `length` bytes, or
// a negative reader code.
int32_t ReadableMinutiae(const uint8_t* record, size_t length) {
  auto set = std::make_unique<FeatureSet>();
  const int32_t result = ReadTemplateRecord(record, length, set.get());
  return result < 0 ? result : set->minutiaCount;
}

std::optional<Template> Interpret(const std::string& name, const std::string& argument, std::string* error) {
  const std::optional<std::string> text = LoadText(argument, error);
  if (!text) {
    return std::nullopt;
  }
  if (text->empty() || text->size() % 2 != 0 ||
      text->find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    *error = name + " is not an even number of hexadecimal digits";
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes = HexBytes(*text);
  Template result;
  if (text->size() == kSealedTextLength) {
    std::array<uint8_t, kSealedTemplateBytes> record{};
    OpenSealed(MakeTemplateKey(), bytes.data(), record.data());
    const int32_t minutiae = ReadableMinutiae(record.data(), record.size());
    if (minutiae >= 0) {
      result.kind = "sealed template";
      result.minutiae = minutiae;
      std::copy(bytes.begin(), bytes.end(), result.sealed.begin());
      return result;
    }
  }
  if (bytes.size() > static_cast<size_t>(kSealedTemplateBytes)) {
    *error = name + " is longer than a template (" + std::to_string(bytes.size()) + " bytes)";
    return std::nullopt;
  }
  const int32_t minutiae = ReadableMinutiae(bytes.data(), bytes.size());
  if (minutiae < 0) {
    *error = name + " is neither a sealed template nor a readable template record (reader code " +
             std::to_string(minutiae) + ")";
    return std::nullopt;
  }
  result.kind = "template record";
  result.minutiae = minutiae;
  SealTemplateRecord(bytes.data(), bytes.size(), result.sealed.data());
  return result;
}

std::string TextOf(const Template& t) {
  std::array<char, kTemplateTextBufferSize> text{};
  EncodeTemplateText(t.sealed.data(), kSealedTemplateBytes, text.data(), text.size());
  return std::string(text.data());
}

// Keeps the engine started for the length of the command.
struct EngineStart {
  int32_t result = InitEngine();
  ~EngineStart() {
    if (result >= 0) {
      ReleaseEngine();
    }
  }
};

int RunVerify(const std::string& a, const std::string& b) {
  std::string error;
  const std::optional<Template> first = Interpret("A", a, &error);
  const std::optional<Template> second = first ? Interpret("B", b, &error) : std::nullopt;
  if (!first || !second) {
    std::cerr << "vorsensor verify: " << error << "\n";
    return 2;
  }
  const EngineStart engine;
  if (engine.result < 0) {
    std::cerr << "vorsensor verify: the engine cannot start (code " << engine.result << ")\n";
    return 2;
  }
  const std::string text1 = TextOf(*first);
  const std::string text2 = TextOf(*second);
  const int32_t score = BestScoreOfTexts(text1, text2);
  if (score < 0) {
    std::cerr << "vorsensor verify: the matcher failed (code " << score << ")\n";
    return 2;
  }
  const bool match = Verify(text1, text2) == 1;
  std::cout << "A: " << first->kind << ", " << first->minutiae << " minutiae\n"
            << "B: " << second->kind << ", " << second->minutiae << " minutiae\n"
            << "score: " << score << "\n"
            << (match ? "match" : "no match") << "\n";
  return match ? 0 : 1;
}

}  // namespace

void AddVerifyCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("verify", kDescription);
  auto a = std::make_shared<std::string>();
  auto b = std::make_shared<std::string>();
  cmd->add_option("A", *a, "first template: text, record hex or file")->required();
  cmd->add_option("B", *b, "second template (prepared as the probe): text, record hex or file")->required();
  cmd->callback([&exitCode, a, b] { exitCode = RunVerify(*a, *b); });
}

}  // namespace vorsensor::tools
