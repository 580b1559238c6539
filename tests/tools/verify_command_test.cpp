// vorsensor verify: inputs as texts, record hex or files; output and exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/template_record.h"
#include "services/template_helpers.h"
#include "tests/tools/tool_run.h"

namespace vorsensor::testing {
namespace {

class VerifyCommandTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
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
  EXPECT_EQ(Vorsensor("verify --help").exitCode, 0);
}

// Each bad argument is named with the real reason, in one line, exit 2.
TEST_F(VerifyCommandTest, BadArgumentsAreNamedWithTheReason) {
  const std::string missing = (dir_ / "abc.tmpl").string();
  const std::string fifo = (dir_ / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string png = File("finger.png", std::string("\x89PNG\r\n\x1a\n") + std::string(40, '\0'));
  const std::string utf16 = File("utf16.txt", std::string("\xFF\xFE" "0\0" "0\0", 6));
  const std::string hexName = "deadbeef";  // a mistyped file name made of hex digits
  struct Case {
    std::string arguments;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"verify " + finger_ + " " + missing, "B (" + missing + "): no such file"},
      {"verify abc.tmpl " + finger_, "A (abc.tmpl): no such file"},
      {"verify abc-tmpl " + finger_, "A (abc-tmpl): no such file, nor hexadecimal digits"},
      {"verify " + dir_.string() + " " + finger_, "A (" + dir_.string() + "): is a directory"},
      {"verify " + png + " " + finger_, "A: " + png + ": invalid PNG"},
      {"verify " + utf16 + " " + finger_, "is UTF-16 text"},
      {"verify " + finger_ + " " + hexName,
       "B (deadbeef): neither a sealed template nor a readable template record (reader code -3000) (and no file has "
       "that name)"},
      {"verify " + finger_ + " abc", "B (abc): 3 hexadecimal digits, not a whole number of bytes (and no file has "
                                     "that name)"},
      {"verify " + File("bad.txt", "00 1z") + " " + finger_, "nor hexadecimal text (it holds 'z')"},
      {"verify /dev/zero " + finger_, "A (/dev/zero): goes on past 1048576 bytes, the limit for a template file"},
      {"verify " + File("nul.txt", std::string(3, '\0')) + " " + finger_, "(it holds byte 0x00)"},
      {"verify " + File("empty.txt", "") + " " + finger_, "the file is empty"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Vorsensor(c.arguments);
    EXPECT_EQ(run.exitCode, 2) << c.arguments.substr(0, 80);
    EXPECT_NE(run.output.find(c.error), std::string::npos) << run.output;
    EXPECT_EQ(run.output.rfind("vorsensor verify: ", 0), 0u) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
  }
  // A pipe is read like a file.
  const ToolRun piped = Shell("(printf %s " + finger_ + " > " + fifo + " &); " + ToolPath() + " verify " + fifo + " " +
                              impression_);
  EXPECT_EQ(piped.exitCode, 0) << piped.output;
}

TEST_F(VerifyCommandTest, ByteOrderMarkAndTheFileSizeLimit) {
  const ToolRun bom = Vorsensor("verify " + File("bom.txt", "\xEF\xBB\xBF" + finger_ + "\r\n") + " " + impression_);
  EXPECT_EQ(bom.exitCode, 0) << bom.output;
  // 1 MiB of file is read; one byte more is refused before reading.
  const size_t limit = size_t{1} << 20;
  const std::string padded = finger_ + std::string(limit - finger_.size(), ' ');
  EXPECT_EQ(Vorsensor("verify " + File("at.txt", padded) + " " + impression_).exitCode, 0);
  const ToolRun over = Vorsensor("verify " + File("over.txt", padded + " ") + " " + impression_);
  EXPECT_EQ(over.exitCode, 2);
  EXPECT_NE(over.output.find("over.txt): is 1048577 bytes, over the limit of 1048576 for a template file, and not an image"),
            std::string::npos)
      << over.output;
}

}  // namespace
}  // namespace vorsensor::testing
