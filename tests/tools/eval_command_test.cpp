// vorsensor eval as a user runs it: a small folder gives the report, the
// scores and the pictures; bad folders and options give one line and exit 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "support/test_paths.h"
#include "tests/tools/tool_run.h"

namespace vorsensor::testing {
namespace {

namespace fs = std::filesystem;

class EvalCommandTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    fs::create_directories(dir_ / "set");
  }
  static std::string Read(const fs::path& path) { return ReadText(path); }
};

TEST_F(EvalCommandTest, SmallFolderGivesReportScoresAndPictures) {
  for (int f = 1; f <= 2; ++f) {
    for (int i = 1; i <= 4; ++i) {
      const std::string name = "f0" + std::to_string(f) + "_i" + std::to_string(i) + ".png";
      fs::copy_file(SourceDir() / "data" / "synth" / name, dir_ / "set" / name);
    }
  }
  const fs::path out = dir_ / "out";
  const ToolRun run = Run("eval " + (dir_ / "set").string() + " --json --threads 2 --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.output);
  ASSERT_EQ(json["sets"].size(), 1u);
  EXPECT_EQ(json["sets"][0]["name"], "set");
  EXPECT_EQ(json["sets"][0]["genuine"], 12);
  EXPECT_EQ(json["sets"][0]["impostor"], 1);
  EXPECT_TRUE(json["sets"][0]["failures_to_extract"].empty());
  EXPECT_EQ(json["threshold"], 48);
  EXPECT_EQ(json["protocol"], "fvc");
  for (const char* name : {"det.png", "histogram_set.png"}) {
    EXPECT_EQ(Read(out / name).substr(0, 4), "\x89PNG") << name;
  }
  for (const char* name : {"det.svg", "histogram_set.svg"}) {
    EXPECT_NE(Read(out / name).find("<svg"), std::string::npos) << name;
  }
  const std::string csv = Read(out / "scores.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 13);
  EXPECT_EQ(csv.rfind("set,kind,reference,probe,score,status\n", 0), 0u);
  EXPECT_EQ(Read(out / "report.md").rfind("# Accuracy evaluation", 0), 0u);
  EXPECT_EQ(nlohmann::json::parse(Read(out / "report.json"))["sets"][0]["genuine"], 12);
}

TEST_F(EvalCommandTest, BadFoldersAndOptionsGiveOneLine) {
  std::ofstream(dir_ / "set" / "101_1.tif") << "x";
  std::ofstream(dir_ / "set" / "scan.tif") << "x";
  fs::create_directories(dir_ / "empty");
  const std::string set = (dir_ / "set").string();
  struct Case {
    std::string arguments;
    std::string expected;
  };
  const Case cases[] = {
      {(dir_ / "absent").string(), "not a folder"},
      {(dir_ / "empty").string(), "no fingerprint images"},
      {set, "scan.tif not named FINGER_IMPRESSION"},
      {set + " --protocol pairs", "--protocol pairs"},
      {set + " --enrol 2", "--enrol 2 is outside 3..11"},
      {set + " --threads -1", "--threads -1"},
      {set + " --profile 7", "--profile 7 is not a scanner profile"},
      {set + " --dpi 20", "--dpi 20 is outside"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = Run("eval " + c.arguments + " --out " + (dir_ / "out").string());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.output.empty());
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "out"));
  }
}

}  // namespace
}  // namespace vorsensor::testing
