// vorsensor enroll: templates of one finger complete the run, of different
// fingers do not; quality, output file, JSON and bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "services/template_helpers.h"
#include "tests/tools/tool_run.h"

namespace vorsensor::testing {
namespace {

ToolRun Enroll(const std::string& arguments) { return Vorsensor("enroll " + arguments); }

TEST(EnrollCommand, StepsExitCodesAndOutputs) {
  TestRandom random(808);
  const auto finger = MakeFinger(random);
  std::string same;
  for (int32_t k = 0; k < 3; ++k) same += " " + TextOf(*MakeImpression(*finger, random, 3 * k, 2 * k, -k));
  std::string different;
  for (int32_t k = 0; k < 3; ++k) different += " " + TextOf(*MakeFinger(random));

  const ToolRun done = Enroll(same + " --record");
  EXPECT_EQ(done.exitCode, 0) << done.output;
  EXPECT_NE(done.output.find("step 3"), std::string::npos) << done.output;
  EXPECT_NE(done.output.find("complete (merge slots 1, 0, 2)"), std::string::npos) << done.output;
  EXPECT_NE(done.output.find("template: "), std::string::npos);
  EXPECT_NE(done.output.find("record: "), std::string::npos);

  const ToolRun json = Enroll(same + " --json");
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(json.output.rfind("{\"steps\":[", 0), 0u) << json.output;
  EXPECT_NE(json.output.find("\"mergeSlots\":[1,0,2]"), std::string::npos) << json.output;

  const ToolRun low = Enroll(same + " --quality 119");
  EXPECT_EQ(low.exitCode, 1);
  EXPECT_NE(low.output.find("rejected for quality"), std::string::npos) << low.output;

  const ToolRun strangers = Enroll(different);
  EXPECT_EQ(strangers.exitCode, 1) << strangers.output;

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("vorsensor_enroll_" + std::to_string(::getpid()) + ".txt");
  EXPECT_EQ(Enroll(same + " -o " + file.string()).exitCode, 0);
  std::ifstream in(file);
  std::string text;
  in >> text;
  EXPECT_EQ(text.size(), 1000u);
  std::filesystem::remove(file);

  const ToolRun bad = Enroll(same + " 12345");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find("vorsensor enroll: 12345"), std::string::npos) << bad.output;
  EXPECT_EQ(Enroll(same + " --quality 256").exitCode, 2);
}

}  // namespace
}  // namespace vorsensor::testing
