// vorsensor extract and synth at their limits: image sides and resolutions
// just inside and just outside, and writes that fail part way through.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageio/image_io.h"
#include "tests/tools/tool_run.h"

namespace vorsensor::testing {
namespace {

class ToolLimitsTest : public ToolTest {
 protected:
  // A ridge-like PNG of w x h stating `dpi` (none when 0).
  std::string Image(const std::string& name, int32_t w, int32_t h, int32_t dpi) {
    imageio::GreyImage image;
    image.width = w;
    image.height = h;
    image.dpi = dpi;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) image.pixels.push_back((x + y) % 9 < 4 ? 40 : 220);
    }
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(imageio::WritePng(path, image).ok());
    return path;
  }
  size_t Entries(const std::string& folder) const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
  }
};

// One line, exit 2, containing `text`.
void ExpectError(const ToolRun& run, const std::string& text) {
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
}

TEST_F(ToolLimitsTest, ExtractSidesAndResolutionsAtTheLimits) {
  struct Case {
    std::string image;
    std::string options;
    std::string error;  // empty: accepted
  };
  const std::string wide = Image("wide.png", 2048, 16, 0);
  const std::string wider = Image("wider.png", 2049, 16, 0);
  const std::string low = Image("low.png", 16, 15, 0);
  const std::string at50 = Image("50.png", 4, 4, 50);
  const std::string at49 = Image("49.png", 4, 4, 49);
  const std::string at5000 = Image("5000.png", 200, 200, 5000);
  const std::string at5001 = Image("5001.png", 200, 200, 5001);
  const std::string absurd = Image("absurd.png", 200, 200, 100000000);
  const std::vector<Case> cases = {
      {wide, "", ""},
      {wider, "", wider + ": 2049 x 16 pixels at 500 dpi normalise to 2049 x 16 at 500 dpi; each side must be 16..2048"},
      {low, "", low + ": 16 x 15 pixels at 500 dpi normalise to 16 x 15 at 500 dpi; each side must be 16..2048"},
      {at50, "", ""},
      {at49, "", at49 + ": resolution 49 dpi stated by the file's pHYs chunk is outside 50..5000"},
      {at5000, "", ""},
      {at5001, "", at5001 + ": resolution 5001 dpi stated by the file's pHYs chunk is outside 50..5000"},
      {absurd, "", absurd + ": resolution 100000000 dpi stated by the file's pHYs chunk is outside 50..5000"},
      {absurd, "--dpi 5000", ""},
      {at5000, "--dpi 49", "--dpi 49 is outside 50..5000"},
      {at50, "--dpi 5001", "--dpi 5001 is outside 50..5000"},
  };
  for (const Case& c : cases) {
    const std::string dump = Path("dump");
    const ToolRun run = Vorsensor("extract " + c.image + " " + c.options + " --dump " + dump);
    if (c.error.empty()) {
      EXPECT_EQ(run.exitCode, 0) << c.image << " " << c.options << "\n" << run.output;
      EXPECT_GT(Entries(dump), 10u) << c.image;
    } else {
      ExpectError(run, "vorsensor extract: " + c.error);
      EXPECT_FALSE(std::filesystem::exists(dump)) << c.image;
    }
    std::filesystem::remove_all(dump);
  }
}

TEST_F(ToolLimitsTest, ExtractDumpStopsAtTheFirstFailedWriteAndRemovesItsFiles) {
  const std::string image = Image("finger.png", 64, 64, 0);
  // The sixth output's name is taken by a folder: the five before it go again.
  const std::string dump = Path("dump");
  std::filesystem::create_directories(dump + "/06-block-orientation-voted.pgm");
  ExpectError(Vorsensor("extract " + image + " --dump " + dump),
              "vorsensor extract: --dump " + dump + ": " + dump +
                  "/06-block-orientation-voted.pgm: cannot write: is a directory");
  EXPECT_EQ(Entries(dump), 1u);
  // A file size limit (a full disk for this purpose): no file and no folder stays.
  const std::string fresh = Path("fresh/dump");
  const ToolRun limited =
      Shell("trap '' XFSZ; ulimit -f 4; exec " + ToolPath() + " extract " + image + " --dump " + fresh);
  ExpectError(limited, fresh + "/01-resampled.pgm: write failed: File too large");
  EXPECT_EQ(Entries(Path("fresh")), 0u);
}

TEST_F(ToolLimitsTest, SynthSidesAndContactSheetAtTheLimits) {
  const std::string out = Path("set");
  const std::string one = " --fingers 1 --impressions 1 --out " + out;
  EXPECT_EQ(Vorsensor("synth --width 2048 --height 16" + one).exitCode, 0);
  EXPECT_EQ(imageio::ReadImage(out + "/f01_i1.png").image.width, 2048);
  std::filesystem::remove_all(out);
  ExpectError(Vorsensor("synth --width 2049 --height 16" + one),
              "vorsensor synth: --width 2049 is outside 16..2048 (the image sides extract accepts at 500 dpi)");
  ExpectError(Vorsensor("synth --height 15" + one), "vorsensor synth: --height 15 is outside 16..2048");

  // 24 x 1357 + 25 x 8 = 32768 pixels: the widest sheet.
  const std::string sheet = Path("sheet.png");
  const std::string row = " --fingers 1 --impressions 24 --height 16 --out " + out + " --contact-sheet " + sheet;
  ASSERT_EQ(Vorsensor("synth --width 1357" + row).exitCode, 0);
  const imageio::ImageResult read = imageio::ReadImage(sheet);
  EXPECT_EQ(read.image.width, 32768) << read.error;
  std::filesystem::remove_all(out);
  std::filesystem::remove(sheet);
  // One pixel more each: refused before anything is made.
  ExpectError(Vorsensor("synth --width 1358" + row),
              "vorsensor synth: --contact-sheet " + sheet +
                  " would be 32792 x 32 pixels, over the limit of 32768 pixels a side and 16777216 pixels in all");
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(ToolLimitsTest, SynthFailedWritesLeaveNothing) {
  const std::string out = Path("set");
  const std::string sheet = out + "/sheet.png";
  // The impressions (under 60 kB each) fit the size limit, the sheet does not:
  // everything the run wrote goes again, the folder it made too.
  const ToolRun limited = Shell("trap '' XFSZ; ulimit -f 160; exec " + ToolPath() +
                                " synth --fingers 1 --impressions 2 --out " + out + " --contact-sheet " + sheet);
  ExpectError(limited, "vorsensor synth: " + sheet + ": write failed: File too large");
  EXPECT_FALSE(std::filesystem::exists(out));
  ExpectError(Vorsensor("synth --fingers 1 --impressions 2 --out " + out + " --contact-sheet /dev/full"),
              "vorsensor synth: /dev/full: write failed: No space left on device");
  EXPECT_FALSE(std::filesystem::exists(out));
  // An existing folder stays, with what it held before.
  std::filesystem::create_directories(out);
  ExpectError(Vorsensor("synth --fingers 1 --impressions 2 --out " + out + " --contact-sheet /dev/full"), "/dev/full");
  EXPECT_EQ(Entries(out), 0u);
}

}  // namespace
}  // namespace vorsensor::testing
