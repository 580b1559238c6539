// vorsensor verify A B: compares two templates, prints the best score and the
// verification answer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/template_methods.h"
#include "component/template_text.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "services/opened_template.h"
#include "services/template_cipher.h"
#include "tools/command.h"

namespace vorsensor::tools {
namespace {

constexpr size_t kSealedTextLength = 2 * kSealedTemplateBytes;
constexpr uintmax_t kLargestInputFile = 1 << 20;

constexpr size_t kShownArgumentLength = 24;
constexpr const char* kHexDigits = "0123456789abcdefABCDEF";

constexpr const char* kDescription =
    "Compare two fingerprint templates.\n"
    "A and B are each a template text (a sealed template as 1000 hexadecimal digits), the\n"
    "hexadecimal bytes of an unsealed template record (at most 500 bytes), or the name of a\n"
    "file holding either (white space is ignored, a UTF-8 byte-order mark is skipped; at most\n"
    "1 MiB; a pipe such as <(command) is read too). An argument that names an existing file\n"
    "is always read as that file; any other argument must be hexadecimal digits, so a\n"
    "mistyped file name is reported as a missing file unless it is made only of hex digits,\n"
    "and then the error says that no file has that name either (write ./NAME to mean a file).\n"
    "A text of exactly 1000 digits that opens into a readable record is taken as a sealed\n"
    "template; any other text is read as a raw record, which is sealed before matching.\n"
    "Prints the best score (the matcher with threshold 0) and the verification answer\n"
    "(threshold 48, B prepared as the probe): \"match\" or \"no match\".\n"
    "Exit code: 0 match, 1 no match, 2 error.";

struct Template {
  std::string kind;
  int32_t minutiae = 0;
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
};

// One argument's text and how to name it in messages.
struct Loaded {
  std::string text;       // hexadecimal digits, white space removed
  std::string what;       // "argument A 'name'"
  std::string afterText;  // added to complaints about the text itself
};

// A text argument as shown in messages: its start when it is long.
std::string Shown(const std::string& argument) {
  return argument.size() <= kShownArgumentLength ? argument : argument.substr(0, kShownArgumentLength) + "...";
}

std::string ByteText(uint8_t byte) {
  if (byte >= 0x21 && byte <= 0x7E) return std::string("'") + static_cast<char>(byte) + "'";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return std::string("byte ") + hex;
}

// Reads a file, a pipe or a device up to the size limit.
bool ReadLimited(const std::string& path, std::string* contents, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  contents->clear();
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *reason = std::string("read failed: ") + std::strerror(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    contents->append(chunk, static_cast<size_t>(n));
    if (contents->size() > kLargestInputFile) {
      *reason = "more than " + std::to_string(kLargestInputFile) + " bytes, the limit for a template file";
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

// The hexadecimal text of a file's contents, or why it has none.
bool TextOfFile(const std::string& contents, std::string* text, std::string* reason) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(contents.data());
  size_t start = 0;
  if (contents.empty()) {
    *reason = "the file is empty";
    return false;
  }
  if (const char* format = imageio::ImageFormatOf(bytes, contents.size())) {
    *reason = std::string("looks like a ") + format + " image, not a template (extract a template from it first)";
    return false;
  }
  if (contents.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    start = 3;  // a UTF-8 byte-order mark, as some editors write
  } else if (contents.size() >= 2 &&
             ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    *reason = "is UTF-16 text (it starts with a UTF-16 byte-order mark); save it as ASCII or UTF-8";
    return false;
  }
  text->clear();
  for (size_t i = start; i < contents.size(); ++i) {
    const char c = contents[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) continue;
    if (std::strchr(kHexDigits, c) == nullptr || c == '\0') {
      *reason = "holds " + ByteText(bytes[i]) + " at offset " + std::to_string(i) + ", not a hexadecimal digit";
      return false;
    }
    text->push_back(c);
  }
  return true;
}

// An argument names an existing file (read whatever it holds), or else must be
// hexadecimal digits; anything else is taken for the name of a missing file.
std::optional<Loaded> Load(const std::string& name, const std::string& argument, std::string* error) {
  Loaded loaded;
  loaded.what = "argument " + name + " '" + argument + "'";
  struct stat info {};
  if (!argument.empty() && ::stat(argument.c_str(), &info) == 0) {
    std::string reason;
    std::string contents;
    if (S_ISDIR(info.st_mode)) {
      reason = "is a directory";
    } else if (S_ISREG(info.st_mode) && info.st_size > static_cast<off_t>(kLargestInputFile)) {
      reason = "is " + std::to_string(info.st_size) + " bytes, over the limit of " +
               std::to_string(kLargestInputFile) + " for a template file";
    } else if (ReadLimited(argument, &contents, &reason) && TextOfFile(contents, &loaded.text, &reason)) {
      return loaded;
    }
    *error = loaded.what + ": " + reason;
    return std::nullopt;
  }
  const int statError = errno;
  for (const char c : argument) {
    if (std::isspace(static_cast<unsigned char>(c)) != 0) continue;
    if (std::strchr(kHexDigits, c) == nullptr || c == '\0') {
      *error = loaded.what + ": " + (statError == ENOENT ? std::string("no such file") : std::strerror(statError));
      return std::nullopt;
    }
    loaded.text.push_back(c);
  }
  loaded.what = "argument " + name + " '" + Shown(argument) + "'";  // a long text is cut short
  loaded.afterText = argument.empty() ? "" : " (and no file has that name)";
  return loaded;
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
  const std::optional<Loaded> loaded = Load(name, argument, error);
  if (!loaded) {
    return std::nullopt;
  }
  const std::string& text = loaded->text;
  const std::string& what = loaded->what;
  if (text.empty()) {
    *error = what + ": is empty" + loaded->afterText;
    return std::nullopt;
  }
  if (text.size() % 2 != 0) {
    *error = what + ": " + std::to_string(text.size()) + " hexadecimal digits, an odd number (two make a byte)" +
             loaded->afterText;
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes = HexBytes(text);
  Template result;
  if (text.size() == kSealedTextLength) {
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
    *error = what + ": " + std::to_string(bytes.size()) + " bytes, longer than a template (at most " +
             std::to_string(kSealedTemplateBytes) + ")" + loaded->afterText;
    return std::nullopt;
  }
  const int32_t minutiae = ReadableMinutiae(bytes.data(), bytes.size());
  if (minutiae < 0) {
    *error = what + ": " + std::to_string(bytes.size()) +
             " bytes that are neither a sealed template nor a readable template record (reader code " +
             std::to_string(minutiae) + ")" + loaded->afterText;
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
