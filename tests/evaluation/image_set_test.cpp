// Finding sets in folders and the comparisons the protocols make of them:
// pair counts, the probe of a pair, and folders that must be refused.
#include "evaluation/image_set.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "evaluation/protocol.h"

namespace vorsensor::evaluation {
namespace {

namespace fs = std::filesystem;

class ImageSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vorsensor_image_set_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Folder(const std::string& name, const std::vector<std::string>& files) {
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    for (const std::string& f : files) std::ofstream(dir / f) << "x";
    return dir;
  }
  static std::vector<std::string> Fvc(int fingers, int impressions, const char* ext = ".tif") {
    std::vector<std::string> files;
    for (int f = 1; f <= fingers; ++f) {
      for (int i = 1; i <= impressions; ++i) files.push_back(std::to_string(100 + f) + "_" + std::to_string(i) + ext);
    }
    return files;
  }

  fs::path root_;
};

TEST_F(ImageSetTest, FvcFolderGivesThePairCountsOfTheProtocols) {
  std::vector<std::string> files = Fvc(10, 8);
  files.push_back("README.txt");  // not an image: ignored
  std::vector<ImageSet> sets;
  std::string error;
  ASSERT_TRUE(LoadImageSets(Folder("db1_b", files).string() + "/", &sets, &error)) << error;
  ASSERT_EQ(sets.size(), 1u);
  const ImageSet& set = sets[0];
  EXPECT_EQ(set.name, "db1_b");
  EXPECT_EQ(set.fingers.size(), 10u);
  ASSERT_EQ(set.images.size(), 80u);

  struct Expected {
    Protocol protocol;
    size_t genuine;
    size_t impostor;
  };
  for (const Expected e : {Expected{Protocol::kFvc, 280, 45}, Expected{Protocol::kAllPairs, 280, 2880}}) {
    const std::vector<Comparison> pairs = MakeComparisons(set, e.protocol);
    size_t genuine = 0;
    size_t impostor = 0;
    std::set<std::pair<int32_t, int32_t>> seen;
    for (const Comparison& c : pairs) {
      const SetImage& ref = set.images[static_cast<size_t>(c.reference)];
      const SetImage& probe = set.images[static_cast<size_t>(c.probe)];
      EXPECT_EQ(c.genuine, ref.finger == probe.finger);
      EXPECT_LT(c.reference, c.probe);  // the later image is the probe
      EXPECT_TRUE(seen.insert({c.reference, c.probe}).second);
      if (!c.genuine && e.protocol == Protocol::kFvc) {
        EXPECT_EQ(ref.impression, 1);
        EXPECT_EQ(probe.impression, 1);
      }
      (c.genuine ? genuine : impostor) += 1;
    }
    EXPECT_EQ(genuine, e.genuine) << ProtocolName(e.protocol);
    EXPECT_EQ(impostor, e.impostor) << ProtocolName(e.protocol);
  }
}

TEST_F(ImageSetTest, FingersInNaturalOrderAndFirstImpressionIsTheLowest) {
  std::vector<ImageSet> sets;
  std::string error;
  // Impressions 3 and 5 only for finger 9; finger 10 sorts after finger 9.
  ASSERT_TRUE(LoadImageSets(Folder("s", {"10_1.png", "10_2.png", "9_5.png", "9_3.png", "f01_i1.png"}).string(), &sets,
                            &error))
      << error;
  const ImageSet& set = sets[0];
  ASSERT_EQ(set.fingers, (std::vector<std::string>{"9", "10", "f01"}));
  EXPECT_EQ(set.images[0].impression, 3);
  EXPECT_EQ(set.images[1].impression, 5);
  const std::vector<Comparison> pairs = MakeComparisons(set, Protocol::kFvc);
  // Genuine: 9_3-9_5, 10_1-10_2. Impostor between the first impressions 9_3, 10_1, f01_i1.
  ASSERT_EQ(pairs.size(), 5u);
  EXPECT_EQ(set.images[static_cast<size_t>(pairs[2].reference)].name, "9_3.png");
  EXPECT_EQ(set.images[static_cast<size_t>(pairs[2].probe)].name, "10_1.png");
  EXPECT_EQ(set.images[static_cast<size_t>(pairs[4].probe)].name, "f01_i1.png");
}

TEST_F(ImageSetTest, ManifestListsSetsAndResolutions) {
  const fs::path dir = Folder("all", {"a1.pgm", "a2.pgm", "b1.pgm", "c1.pgm"});
  std::ofstream(dir / "manifest.csv") << "file,set,finger,impression,width,dpi\n"
                                         "a1.pgm,one,x,1,10,569\n"
                                         "a2.pgm,one,x,2,10,unknown\n"
                                         "b1.pgm,one,y,1,10,\n"
                                         "\n"
                                         "c1.pgm,two,z,1,10,500\n";
  std::vector<ImageSet> sets;
  std::string error;
  ASSERT_TRUE(LoadImageSets(dir.string(), &sets, &error)) << error;
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].name, "one");
  ASSERT_EQ(sets[0].images.size(), 3u);
  EXPECT_EQ(sets[0].images[0].dpi, 569);
  EXPECT_EQ(sets[0].images[1].dpi, 0);
  EXPECT_EQ(sets[0].images[2].dpi, 0);
  EXPECT_EQ(sets[1].name, "two");
  EXPECT_EQ(sets[1].images[0].dpi, 500);
}

TEST_F(ImageSetTest, BadFoldersAreRefusedWithTheReason) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::string manifest;  // written when not empty
    std::string expected;  // part of the message
  };
  const Case cases[] = {
      {"no images", {"notes.txt"}, "", "no fingerprint images"},
      {"mixed naming", {"101_1.tif", "101_2.tif", "scan.tif"}, "", "scan.tif not named FINGER_IMPRESSION"},
      {"impression not a number", {"101_1.tif", "101_x.tif"}, "", "101_x.tif"},
      {"impression zero", {"101_0.tif", "101_1.tif"}, "", "101_0.tif"},
      {"same impression twice", {"101_1.tif", "101_1.png"}, "", "are both impression 1 of finger 101"},
      {"manifest names a missing file", {"a.pgm"}, "file,finger,impression\na.pgm,1,1\nb.pgm,1,2\n",
       "b.pgm does not exist"},
      {"manifest without a finger column", {"a.pgm"}, "file,impression\na.pgm,1\n", "no finger column"},
      {"manifest with a bad impression", {"a.pgm"}, "file,finger,impression\na.pgm,1,first\n", "line 2"},
      {"manifest with a bad dpi", {"a.pgm"}, "file,finger,impression,dpi\na.pgm,1,1,fine\n", "dpi \"fine\""},
      {"empty manifest", {"a.pgm"}, "file,finger,impression\n", "lists no images"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = Folder(std::string("case") + std::to_string(&c - cases), c.files);
    if (!c.manifest.empty()) std::ofstream(dir / "manifest.csv") << c.manifest;
    std::vector<ImageSet> sets;
    std::string error;
    EXPECT_FALSE(LoadImageSets(dir.string(), &sets, &error));
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_NE(error.find(dir.string()), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  std::vector<ImageSet> sets;
  std::string error;
  EXPECT_FALSE(LoadImageSets((root_ / "absent").string(), &sets, &error));
  EXPECT_NE(error.find("not a folder"), std::string::npos);
}

}  // namespace
}  // namespace vorsensor::evaluation
