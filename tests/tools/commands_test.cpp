// vorsensor extract, identify, inspect and draw run as a user runs them: exit
// codes, the --json objects, and bad inputs that each give one line naming
// the input and exit 2 with nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "services/template_helpers.h"
#include "support/test_paths.h"
#include "tests/tools/tool_run.h"

namespace vorsensor::testing {
namespace {

using CommandsTest = ToolTest;

nlohmann::json Json(const ToolRun& run) {
  nlohmann::json parsed = nlohmann::json::parse(run.output, nullptr, false);
  EXPECT_FALSE(parsed.is_discarded()) << run.output << run.err;
  return parsed;
}

TEST_F(CommandsTest, ExtractPrintsTheTemplateAndItsFigures) {
  const ToolRun text = Run("extract " + Synth("f02_i1.png"));
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.output.find("quality="), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("minutiae="), std::string::npos);
  EXPECT_NE(text.output.find("extract_ms="), std::string::npos);

  const ToolRun json = Run("extract " + Synth("f02_i1.png") + " --json --record");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const nlohmann::json object = Json(json);
  EXPECT_TRUE(object["quality"].is_number_integer());
  EXPECT_TRUE(object["minutiae"].is_number_integer());
  EXPECT_TRUE(object["extract_ms"].is_number());
  EXPECT_EQ(object["dpi"], 500);
  ASSERT_TRUE(object["template"].is_string());
  EXPECT_EQ(object["template"].get<std::string>().size(), 1000u);
  ASSERT_TRUE(object["record"].is_string());
  const std::string record = object["record"];
  EXPECT_EQ(record.find_first_not_of("0123456789ABCDEF"), std::string::npos);

  // The printed template reads back as what inspect lists.
  const ToolRun inspect = Run("inspect " + object["template"].get<std::string>() + " --json");
  ASSERT_EQ(inspect.exitCode, 0) << inspect.err;
  const nlohmann::json listed = Json(inspect);
  EXPECT_EQ(listed["kind"], "sealed template");
  EXPECT_EQ(listed["minutiae"].size(), object["minutiae"].get<size_t>());
  EXPECT_EQ(listed["record_bytes"].get<size_t>(), record.size() / 2);
}

TEST_F(CommandsTest, ExtractDumpsEveryStage) {
  const std::string dump = (dir_ / "stages").string();
  const ToolRun run = Run("extract " + Synth("f03_i2.png") + " --dump " + dump);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dump) / "01-resampled.pgm"));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dump) / "02-pipeline-input.pgm"));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dump) / "03-normalised.pgm"));
}

TEST_F(CommandsTest, InspectListsARecordItsFieldsAndGrid) {
  TestRandom random(41);
  auto set = MakeFinger(random);
  set->gridWidth = 16;
  set->gridHeight = 18;
  set->singularCount = 1;
  set->singular[0] = SingularPoint{100, 120, 1, 30, {0, 0, 0}};
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  const int32_t length = WriteTemplateRecord(set.get(), record.data(), record.size());
  ASSERT_GT(length, 0);
  const std::string file = File("finger.hex", HexOf(record.data(), static_cast<size_t>(length)) + "\n");
  const ToolRun run = Run("inspect " + file + " --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json object = Json(run);
  EXPECT_EQ(object["kind"], "template record");
  EXPECT_EQ(object["record_bytes"], length);
  EXPECT_EQ(object["flags"]["grid"], true);
  EXPECT_EQ(object["flags"]["singular_points"], true);
  EXPECT_EQ(object["grid"]["width"], 16);
  EXPECT_EQ(object["grid"]["height"], 18);
  ASSERT_EQ(object["minutiae"].size(), static_cast<size_t>(set->minutiaCount));
  const nlohmann::json& first = object["minutiae"][0];
  EXPECT_EQ(first["x"], set->minutiae[0].x);
  EXPECT_EQ(first["direction_units"], set->minutiae[0].direction);
  EXPECT_DOUBLE_EQ(first["direction_degrees"].get<double>(), set->minutiae[0].direction * 1.5);
  EXPECT_EQ(first["type"], set->minutiae[0].type == kMinutiaEnding ? "ending" : "bifurcation");
  ASSERT_EQ(object["singular_points"].size(), 1u);
  EXPECT_EQ(object["singular_points"][0]["kind"], "core");

  const ToolRun text = Run("inspect " + file);
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_NE(text.output.find("minutiae: " + std::to_string(set->minutiaCount)), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("grid: 16 x 18"), std::string::npos) << text.output;
}

TEST_F(CommandsTest, IdentifyAnswersTheFirstMatchLikeTheComponent) {
  TestRandom random(77);
  const FingerTrio trio = MakeFingerTrio(random, 3, 5, -4);
  const std::string other = File("a_other.txt", TextOf(*trio.other));
  const std::string finger = File("b_finger.txt", TextOf(*trio.finger));
  const std::string probe = TextOf(*trio.impression);

  const ToolRun match = Run("identify " + probe + " " + other + " " + finger + " " + finger + " --scores --json");
  ASSERT_EQ(match.exitCode, 0) << match.err;
  const nlohmann::json object = Json(match);
  EXPECT_EQ(object["match"]["index"], 1);
  EXPECT_EQ(object["match"]["name"], finger);
  ASSERT_EQ(object["gallery"].size(), 3u);
  EXPECT_GE(object["gallery"][1]["score"].get<int>(), 48);
  EXPECT_LT(object["gallery"][0]["score"].get<int>(), 48);
  EXPECT_EQ(object["gallery"][1]["score"], object["gallery"][2]["score"]);

  // A folder stands for its templates and images in name order; other files are skipped.
  File("notes.md", "not a template\n");
  const ToolRun folder = Run("identify " + probe + " " + dir_.string());
  ASSERT_EQ(folder.exitCode, 0) << folder.err;
  EXPECT_EQ(folder.output, "match: 1 " + finger + "\n");

  const ToolRun none = Run("identify " + probe + " " + other + " --json");
  EXPECT_EQ(none.exitCode, 1) << none.err;
  EXPECT_TRUE(Json(none)["match"].is_null());
  EXPECT_EQ(Run("identify " + probe + " " + other).output, "none\n");
}

TEST_F(CommandsTest, VerifyTakesImagesAndLongRecords) {
  // Two images extracted on the fly, under a profile whose matching fields differ.
  for (const std::string& profile : {std::string(), std::string(" --profile 100000 --mode 0")}) {
    const ToolRun run = Run("verify " + Synth("f04_i1.png") + " " + Synth("f04_i2.png") + profile + " --json");
    ASSERT_NE(run.exitCode, 2) << run.err;
    const nlohmann::json object = Json(run);
    EXPECT_EQ(object["a"]["kind"], "image");
    EXPECT_TRUE(object["a"]["quality"].is_number_integer());
    EXPECT_EQ(object["threshold"], 48);
    EXPECT_EQ(object["match"].get<bool>(), run.exitCode == 0);
    EXPECT_EQ(object["match"].get<bool>(), object["score"].get<int>() >= 48) << run.output;
  }

  // A record of more than 500 bytes: two fingers' minutiae in one set.
  TestRandom random(19);
  auto set = MakeFinger(random);
  auto more = MakeFinger(random);
  for (int32_t i = 0; i < more->minutiaCount && set->minutiaCount < kMaxMinutiae - 1; ++i) {
    set->minutiae[set->minutiaCount++] = more->minutiae[i];
  }
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  const int32_t length = WriteTemplateRecord(set.get(), record.data(), record.size());
  ASSERT_GT(length, 500);
  const std::string hex = HexOf(record.data(), static_cast<size_t>(length));
  const ToolRun same = Run("verify " + hex + " " + File("long.hex", hex));
  EXPECT_EQ(same.exitCode, 0) << same.output << same.err;
  EXPECT_NE(same.output.find("B: template record, " + std::to_string(set->minutiaCount) + " minutiae"), std::string::npos)
      << same.output;
  // Such a record cannot be sealed: identify names it.
  const ToolRun identify = Run("identify " + hex + " " + File("g.hex", hex));
  EXPECT_EQ(identify.exitCode, 2);
  EXPECT_NE(identify.err.find("500"), std::string::npos) << identify.err;
  // Extra bytes after a long record are refused rather than ignored.
  const ToolRun trailing = Run("verify " + hex + "00 " + hex);
  EXPECT_EQ(trailing.exitCode, 2) << trailing.output;
}

TEST_F(CommandsTest, DrawWritesAPictureOfTheImageAndItsFeatures) {
  const std::string out = (dir_ / "drawn.png").string();
  const ToolRun run = Run("draw " + Synth("f01_i1.png") + " -o " + out + " --scale 3 --json");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json object = Json(run);
  EXPECT_EQ(object["output"], out);
  EXPECT_EQ(object["width"], 3 * 256);
  EXPECT_EQ(object["height"], 3 * 288);
  std::ifstream png(out, std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(std::string(magic, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(Written(), std::vector<std::string>{"drawn.png"}) << "no partial file left behind";

  // With a template given its features are drawn.
  TestRandom random(3);
  const std::string templateFile = File("t.txt", TextOf(*MakeFinger(random)));
  const ToolRun given = Run("draw " + Synth("f01_i1.png") + " " + templateFile + " -o " + out);
  ASSERT_EQ(given.exitCode, 0) << given.err;
  EXPECT_NE(given.output.find("(sealed template)"), std::string::npos) << given.output;
}

TEST_F(CommandsTest, BadInputsGiveOneLineAndExitTwo) {
  const std::string tiny = File("tiny.pgm", "P5\n10 10\n255\n" + std::string(100, '\x80'));
  const std::string broken = File("broken.png", "\x89PNG\r\n\x1a\nnot really a png");
  const std::string empty = File("empty.txt", "");
  const std::string image = Synth("f01_i1.png");
  const std::string out = (dir_ / "never.png").string();
  struct Case {
    std::string arguments;
    std::string named;  // a part the error line must hold
  };
  const Case cases[] = {
      {"extract " + (dir_ / "missing.png").string(), "missing.png"},
      {"extract " + broken, "broken.png"},
      {"extract " + tiny, "16..2048"},
      {"extract " + tiny + " --json", "tiny.pgm"},
      {"extract " + image + " --dpi 49", "50..5000"},
      {"extract " + image + " --dpi 5001", "5001"},
      {"extract " + image + " --dpi 50", "2560 x 2880"},
      {"extract " + image + " --profile 2", "--profile 2"},
      {"extract " + image + " --mode 128", "--mode 128"},
      {"inspect XYZ", "XYZ"},
      {"inspect ABC", "3 hexadecimal digits"},
      {"inspect " + empty, "empty"},
      {"inspect " + std::string(20, 'F'), "record"},
      {"identify " + image + " " + (dir_ / "nothing.txt").string(), "nothing.txt"},
      {"identify " + image + " " + tiny, "GALLERY entry 0"},
      {"draw " + image + " -o " + (dir_ / "no" / "such" / "dir.png").string(), "does not exist"},
      {"draw " + broken + " -o " + out, "broken.png"},
      {"draw " + image + " ZZZ -o " + out, "ZZZ"},
      {"draw " + image + " -o " + out + " --scale 0", "--scale"},
      {"verify " + image + " " + image + " --dpi 20", "50..5000"},
      {"verify " + image + " " + tiny, "B: "},
      {"verify " + image + " " + image + " --profile 7", "--profile 7"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, 2) << c.arguments << "\n" << run.output << run.err;
    EXPECT_TRUE(run.output.empty()) << c.arguments << "\n" << run.output;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.arguments << "\n" << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << c.arguments << "\n" << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  std::vector<std::string> expected = {"broken.png", "empty.txt", "tiny.pgm"};
  std::vector<std::string> written = Written();
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, expected) << "nothing written by a failing command";
}

// The tool's help lists every command on one line; a command's own help
// gives its summary first and the details after its options.
TEST_F(CommandsTest, HelpListsOneLinePerCommand) {
  const ToolRun help = Vorsensor("--help");
  EXPECT_EQ(help.exitCode, 0);
  const std::string list = help.output.substr(help.output.find("Subcommands:"));
  size_t commands = 0;
  for (size_t at = list.find("\n  "); at != std::string::npos; at = list.find("\n  ", at + 1)) ++commands;
  EXPECT_EQ(commands, 9u) << list;
  EXPECT_EQ(list.find("\n                 "), std::string::npos) << "a command's details in the list";
  const ToolRun verify = Vorsensor("verify --help");
  EXPECT_EQ(verify.output.rfind("Compare two fingerprints\n", 0), 0u) << verify.output;
  EXPECT_GT(verify.output.find("Exit code: 0 match"), verify.output.find("--json"));
}

TEST_F(CommandsTest, SensorShowDrawsAsTheLiveDisplay) {
  const std::string input = Synth("f01_i1.png");
  const imageio::ImageResult source = imageio::ReadImage(input);
  ASSERT_TRUE(source.ok());
  const std::string grey = (dir_ / "grey.png").string();
  ASSERT_EQ(Run("sensor show " + input + " 512 576 -o " + grey).exitCode, 0);
  const imageio::ImageResult doubled = imageio::ReadImage(grey);
  ASSERT_TRUE(doubled.ok());
  ASSERT_EQ(doubled.image.width, 512);
  ASSERT_EQ(doubled.image.height, 576);
  int32_t wrong = 0;
  for (int32_t y = 0; y < 576; ++y) {
    for (int32_t x = 0; x < 512; ++x) wrong += doubled.image.At(x, y) != source.image.At(x / 2, y / 2);
  }
  EXPECT_EQ(wrong, 0);
  const std::string two = (dir_ / "two.png").string();
  ASSERT_EQ(Run("sensor show " + input + " 128 288 --two-colour -o " + two).exitCode, 0);
  const imageio::ImageResult squeezed = imageio::ReadImage(two);
  ASSERT_TRUE(squeezed.ok());
  for (int32_t y = 0; y < 288; ++y) {
    for (int32_t x = 0; x < 128; ++x) {
      wrong += squeezed.image.At(x, y) != (source.image.At(2 * x, y) == 0 ? 0 : 255);
    }
  }
  EXPECT_EQ(wrong, 0);
  for (const char* size : {"0 10", "10 8193", "-1 5"}) {
    const ToolRun bad = Run("sensor show " + input + " " + size + " -o " + (dir_ / "bad.png").string());
    EXPECT_EQ(bad.exitCode, 2) << size;
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.png"));
}

// The frame tools wrap the device's conversion and finger check and the
// simulated sensor's optics: a generated print survives the round trip to a
// raw frame and back up to the optics' blur, a constant image exactly; a
// short dump converts to the white image a short read gives, with a line
// saying so; the finger check answers in its exit code.
TEST_F(CommandsTest, SensorFramesRoundTripAndFingerCheck) {
  const std::string print = Synth("f01_i1.png");
  imageio::GreyImage flat{256, 288, std::vector<uint8_t>(256 * 288, 90), 500, ""};
  ASSERT_TRUE(imageio::WritePng(Path("flat.png"), flat).ok());
  for (const std::string& input : {print, Path("flat.png")}) {
    ASSERT_EQ(Run("sensor frame " + input + " -o " + Path("f.raw")).exitCode, 0);
    EXPECT_EQ(std::filesystem::file_size(Path("f.raw")), 288u * 354u);
    ASSERT_EQ(Run("sensor convert " + Path("f.raw") + " -o " + Path("back.png")).exitCode, 0);
    const imageio::ImageResult before = imageio::ReadImage(input);
    const imageio::ImageResult after = imageio::ReadImage(Path("back.png"));
    ASSERT_TRUE(before.ok() && after.ok());
    int64_t difference = 0;
    for (size_t i = 0; i < before.image.pixels.size(); ++i) difference += std::abs(before.image.pixels[i] - after.image.pixels[i]);
    EXPECT_LE(difference, input == print ? 6 * 256 * 288 : 0) << input;
  }
  const ToolRun finger = Run("sensor finger " + print + " --json");
  EXPECT_EQ(finger.exitCode, 0);
  EXPECT_TRUE(Json(finger)["finger"].get<bool>());
  File("short.raw", std::string(100, '\x40'));
  const ToolRun shortRead = Run("sensor convert " + Path("short.raw") + " -o " + Path("white.png"));
  EXPECT_EQ(shortRead.exitCode, 0);
  EXPECT_NE(shortRead.output.find("short.raw: 100 bytes"), std::string::npos) << shortRead.output;
  EXPECT_EQ(Run("sensor finger " + Path("white.png")).exitCode, 1);
  flat.width = 255;
  flat.pixels.resize(255 * 288);
  ASSERT_TRUE(imageio::WritePng(Path("narrow.png"), flat).ok());
  const ToolRun wrongSize = Run("sensor frame " + Path("narrow.png") + " -o " + Path("x.raw"));
  EXPECT_EQ(wrongSize.exitCode, 2);
  EXPECT_EQ(std::count(wrongSize.err.begin(), wrongSize.err.end(), '\n'), 1) << wrongSize.err;
  for (const char* command : {"powerup", "prepare", "start", "end"}) {
    const ToolRun trace = Run(std::string("sensor trace ") + command);
    EXPECT_EQ(trace.exitCode, 0) << command;
    EXPECT_NE(trace.output.find(std::string(command) + ": result 1, "), std::string::npos) << trace.output;
  }
}

}  // namespace
}  // namespace vorsensor::testing
