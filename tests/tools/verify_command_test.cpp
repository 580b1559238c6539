// vorsensor verify: inputs as texts, record hex or files; output and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/template_record.h"
#include "services/template_helpers.h"

namespace vorsensor::testing {
namespace {

struct ToolRun {
  int exitCode;
  std::string output;
};

ToolRun Vorsensor(const std::string& arguments) {
  const std::string command = std::string(VS_VORSENSOR_BINARY) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return {-1, ""};
  }
  std::string output;
  std::array<char, 256> chunk{};
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    output.append(chunk.data(), n);
  }
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class VerifyCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vorsensor_verify_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    TestRandom random(606);
    const FingerTrio trio = MakeFingerTrio(random, 4, -6, 10);
    finger_ = TextOf(*trio.finger);
    impression_ = TextOf(*trio.impression);
    other_ = TextOf(*trio.other);
    // The unsealed record of the impression, exactly as long as it is.
    std::vector<uint8_t> record(kRecordWorkBufferSize);
    const int32_t length = WriteTemplateRecord(trio.impression.get(), record.data(), record.size());
    ASSERT_GT(length, 0);
    impressionRecord_ = HexOf(record.data(), static_cast<size_t>(length));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& contents) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path) << contents;
    return path.string();
  }

  std::filesystem::path dir_;
  std::string finger_;
  std::string impression_;
  std::string other_;
  std::string impressionRecord_;
};

TEST_F(VerifyCommandTest, MatchAndNoMatch) {
  const ToolRun match = Vorsensor("verify " + finger_ + " " + impression_);
  EXPECT_EQ(match.exitCode, 0) << match.output;
  EXPECT_NE(match.output.find("\nmatch\n"), std::string::npos) << match.output;
  EXPECT_NE(match.output.find("score: "), std::string::npos);
  EXPECT_NE(match.output.find("sealed template"), std::string::npos);
  const ToolRun noMatch = Vorsensor("verify " + finger_ + " " + other_);
  EXPECT_EQ(noMatch.exitCode, 1) << noMatch.output;
  EXPECT_NE(noMatch.output.find("no match"), std::string::npos);
}

TEST_F(VerifyCommandTest, FilesAndRawRecords) {
  // A file with the text split over lines, and the impression as raw record hex.
  const std::string file = File("finger.txt", finger_.substr(0, 400) + "\n" + finger_.substr(400) + "\n");
  const ToolRun run = Vorsensor("verify " + file + " " + impressionRecord_);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("B: template record"), std::string::npos) << run.output;
  const ToolRun fromFile = Vorsensor("verify " + File("other.txt", other_) + " " + File("imp.txt", impressionRecord_));
  EXPECT_EQ(fromFile.exitCode, 1) << fromFile.output;
}

TEST_F(VerifyCommandTest, ErrorsExitWithTwo) {
  for (const std::string& arguments :
       {"verify " + finger_, "verify " + finger_ + " XYZ", "verify " + finger_ + " ABC",
        "verify " + std::string(1002, 'F') + " " + finger_,
        "verify " + std::string(20, 'F') + " " + finger_, "verify " + finger_ + " " + std::string(1200, '0'),
        "verify " + File("empty.txt", "") + " " + finger_}) {
    const ToolRun run = Vorsensor(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments.substr(0, 60) << "\n" << run.output;
  }
  EXPECT_NE(Vorsensor("verify " + finger_ + " XYZ").output.find("hexadecimal"), std::string::npos);
  EXPECT_EQ(Vorsensor("verify --help").exitCode, 0);
}

}  // namespace
}  // namespace vorsensor::testing
