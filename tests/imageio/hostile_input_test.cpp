// Inputs that try to make the reader allocate, read or trust too much: chunk
// and strip data the file does not hold, files over the size limit, endless
// inputs, absurd resolutions; and writes that fail half way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "image_file_builders.h"
#include "imageio/image_io.h"

namespace vorsensor::imageio {
namespace {

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vs_hostile_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

// One PNG chunk with its CRC; `statedLength` replaces the true length when set.
void Chunk(Bytes& png, const char* type, const Bytes& data, int64_t statedLength = -1) {
  Big32(png, statedLength >= 0 ? static_cast<uint32_t>(statedLength) : static_cast<uint32_t>(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  Big32(png, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

Bytes PngStart(uint32_t w, uint32_t h) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  Big32(ihdr, w);
  Big32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8-bit grey
  Chunk(png, "IHDR", ihdr);
  return png;
}

// A whole 8-bit grey PNG of one grey level, with extra chunks before the pixels.
Bytes GreyPng(uint32_t w, uint32_t h, uint8_t level, const std::vector<std::pair<const char*, Bytes>>& extra) {
  Bytes png = PngStart(w, h);
  for (const auto& [type, data] : extra) Chunk(png, type, data);
  Bytes raw;
  for (uint32_t y = 0; y < h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), w, level);
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(size);
  EXPECT_EQ(compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
  packed.resize(size);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});
  return png;
}

Bytes PhysPerMetre(uint32_t perMetre, uint8_t unit) {
  Bytes b;
  Big32(b, perMetre);
  Big32(b, perMetre);
  b.push_back(unit);
  return b;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(HostileInputTest, PngChunkLengthsBeyondTheFileAreRefusedWithoutAllocating) {
  // The 44-byte file: signature, header, and an ancillary chunk stating 0x7fffffff bytes.
  for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT"}) {
    Bytes png = PngStart(16, 16);
    Big32(png, 0x7FFFFFFF);
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), {'a', 0, 'b'});
    ASSERT_EQ(png.size(), 44u);
    const long before = PeakKilobytes();
    const ImageResult r = DecodeImage(png, "text.png");
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << type << ": peak memory grew";
    EXPECT_EQ(r.error, std::string("text.png: invalid PNG: chunk ") + type +
                           " at offset 33 states 2147483647 bytes, more than the 3 left in the file");
  }
  // A chunk whose CRC is cut off is refused the same way; one that fits exactly is read.
  Bytes exact = GreyPng(3, 2, 77, {});
  EXPECT_TRUE(DecodeImage(exact, "exact.png").ok());
  exact.pop_back();
  EXPECT_NE(DecodeImage(exact, "cut.png").error.find("chunk IEND at offset"), std::string::npos);
}

TEST_F(HostileInputTest, PngAncillaryChunksAreSkippedUnreadAndPhysIsKept) {
  // Text and palette suggestions larger than the reader would ever allocate
  // for a chunk, present in full: skipped, and the image is read.
  const Bytes large(3u << 20, 'x');
  Bytes zText = {'k', 0, 0};
  zText.insert(zText.end(), 1000, 0xFF);  // not even valid compressed data
  const Bytes png = GreyPng(5, 4, 200,
                            {{"tEXt", large}, {"zTXt", zText}, {"sPLT", large}, {"pHYs", PhysPerMetre(19685, 1)}});
  const ImageResult r = DecodeImage(png, "ancillary.png");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.image.pixels, Bytes(20, 200));
  EXPECT_EQ(r.image.dpi, 500);
  // A damaged pHYs is an error, not a warning dropped on the floor.
  EXPECT_FALSE(DecodeImage(GreyPng(5, 4, 200, {{"pHYs", Bytes(8, 1)}}), "phys.png").ok());
}

// Resolutions as files state them: the value kept however absurd, with its
// source; 0 or no unit states none.
TEST_F(HostileInputTest, StatedResolutionsKeepTheirValueAndSource) {
  struct Case {
    const char* name;
    Bytes file;
    int32_t dpi;
    bool stated;
  };
  const auto bmp = [](int32_t perMetre) { return MakeBmp(1, 1, 24, {}, {9, 9, 9, 0}, perMetre); };
  const std::vector<Case> cases = {
      {"none.png", GreyPng(1, 1, 0, {}), 0, false},
      {"zero.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(0, 1)}}), 0, false},
      {"ratio.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(19685, 0)}}), 0, false},
      {"tiny.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(1, 1)}}), 0, true},
      {"49.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(1929, 1)}}), 49, true},
      {"5001.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(196890, 1)}}), 5001, true},
      {"huge.png", GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(0x7FFFFFFF, 1)}}), 54546085, true},
      {"none.bmp", bmp(0), 0, false},
      {"negative.bmp", bmp(-19685), 0, true},
      {"huge.bmp", bmp(0x7FFFFFFF), 54546085, true},
  };
  for (const Case& c : cases) {
    const ImageResult r = DecodeImage(c.file, c.name);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.image.dpi, c.dpi) << c.name;
    EXPECT_EQ(!r.image.dpiSource.empty(), c.stated) << c.name;
  }
  EXPECT_NE(DecodeImage(GreyPng(1, 1, 0, {{"pHYs", PhysPerMetre(7, 1)}}), "p").image.dpiSource.find("pHYs"),
            std::string::npos);
  EXPECT_NE(DecodeImage(bmp(7), "b").image.dpiSource.find("pixels-per-metre"), std::string::npos);
}

// An uncompressed 8-bit grey TIFF written by hand: header, directory, strip
// tables, then the strips of `rowsPerStrip` rows at the end of the file.
Bytes HandTiff(uint32_t w, uint32_t h, uint32_t rowsPerStrip, const Bytes& pixels, float resolution = 0.0f) {
  const uint32_t strips = (h + rowsPerStrip - 1) / rowsPerStrip;
  const uint32_t entries = resolution > 0.0f ? 12 : 9;
  const uint32_t tables = 8 + 2 + entries * 12 + 4;
  const uint32_t rational = tables + 8 * strips;
  const uint32_t data = rational + 8;
  Bytes t = {'I', 'I', 42, 0};
  Little32(t, 8);
  Little16(t, entries);
  const auto entry = [&t](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    Little16(t, tag);
    Little16(t, type);
    Little32(t, count);
    Little32(t, value);
  };
  entry(256, 4, 1, w);
  entry(257, 4, 1, h);
  entry(258, 3, 1, 8);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 1);
  entry(273, 4, strips, strips == 1 ? data : tables);
  entry(277, 3, 1, 1);
  entry(278, 4, 1, rowsPerStrip);
  entry(279, 4, strips, strips == 1 ? w * std::min(h, rowsPerStrip) : tables + 4 * strips);
  if (resolution > 0.0f) {
    entry(282, 5, 1, rational);
    entry(283, 5, 1, rational);
    entry(296, 3, 1, 2);  // inch
  }
  Little32(t, 0);
  for (uint32_t s = 0; s < strips; ++s) Little32(t, data + s * rowsPerStrip * w);
  for (uint32_t s = 0; s < strips; ++s) Little32(t, w * std::min(rowsPerStrip, h - s * rowsPerStrip));
  Little32(t, static_cast<uint32_t>(resolution * 1000));
  Little32(t, 1000);
  t.insert(t.end(), pixels.begin(), pixels.end());
  return t;
}

TEST_F(HostileInputTest, DamagedTiffStripsAreErrorsNamingTheFile) {
  const uint32_t w = 12;
  const uint32_t h = 10;
  Bytes pixels(w * h);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  const Bytes whole = HandTiff(w, h, 4, pixels, 500.0f);
  const ImageResult good = DecodeImage(whole, "good.tif");
  ASSERT_TRUE(good.ok()) << good.error;
  EXPECT_EQ(good.image.pixels, pixels);
  EXPECT_EQ(good.image.dpi, 500);

  // The last strip starts past the end of the file.
  Bytes farOffset = whole;
  const size_t lastOffset = 8 + 2 + 12 * 12 + 4 + 4 * 2;
  ASSERT_EQ(farOffset[lastOffset] | farOffset[lastOffset + 1] << 8, static_cast<int>(whole.size() - 2 * w));
  farOffset[lastOffset + 3] = 0x40;
  // The file ends inside its last strip.
  const Bytes cut(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(w));
  // LZW data that is not LZW: a strip of all-ones codes.
  const std::string lzwPath = Path("lzw.tif");
  {
    TIFF* tif = OpenTiff(lzwPath, {w, h, 8, 1, PHOTOMETRIC_MINISBLACK, h, 0.0f, 0});
    ASSERT_NE(tif, nullptr);
    Bytes garbage(40, 0xFF);
    ASSERT_EQ(TIFFWriteRawStrip(tif, 0, garbage.data(), static_cast<tmsize_t>(garbage.size())), 40);
    TIFFClose(tif);
  }
  const Bytes lzw = ReadBytes(lzwPath);

  for (const auto& [name, bytes] : std::vector<std::pair<std::string, Bytes>>{
           {"far.tif", farOffset}, {"cut.tif", cut}, {"lzw.tif", lzw}}) {
    const ImageResult r = DecodeImage(bytes, name);
    EXPECT_FALSE(r.ok()) << name;
    EXPECT_EQ(r.error.rfind(name + ": invalid TIFF: pixel data cannot be decoded (", 0), 0u) << r.error;
    EXPECT_TRUE(r.image.pixels.empty());
  }
}

TEST_F(HostileInputTest, FileSizeIsCheckedBeforeReading) {
  // Sparse files: nothing of them is read when they are over the limit.
  const std::string over = Path("over.png");
  const std::string at = Path("at.png");
  for (const auto& [path, size] : {std::pair{over, kMaxFileBytes + 1}, std::pair{at, kMaxFileBytes}}) {
    std::ofstream(path, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
  }
  ImageResult r = ReadImage(over);
  EXPECT_EQ(r.error, over + ": file is 268435457 bytes, over the limit of 268435456 bytes");
  // At the limit the file is read; these bytes are no PNG.
  r = ReadImage(at, 1 << 10);
  EXPECT_NE(r.error.find("over the limit of 1024 bytes"), std::string::npos) << r.error;
  std::filesystem::resize_file(at, 1 << 10);
  r = ReadImage(at, 1 << 10);
  EXPECT_EQ(r.error.find("limit"), std::string::npos) << r.error;
  EXPECT_FALSE(r.ok());

  // A device that never ends is refused by its first bytes.
  r = ReadImage("/dev/zero");
  EXPECT_EQ(r.error, "/dev/zero: unrecognised image format (expected PNG, BMP, TIFF or PGM/PNM)");
  r = ReadImage(dir_.string());
  EXPECT_EQ(r.error, dir_.string() + ": is a directory, not an image file");
}

// Writes `header` and then `total` bytes of zeros into a FIFO, stopping when
// the reader goes away.
void FeedFifo(const std::string& path, const std::string& header, size_t total) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return;
  size_t sent = 0;
  bool ok = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
  const Bytes zeros(4096, 0);
  while (ok && sent < total) {
    const ssize_t n = ::write(fd, zeros.data(), std::min(zeros.size(), total - sent));
    ok = n > 0;
    sent += n > 0 ? static_cast<size_t>(n) : 0;
  }
  ::close(fd);
}

TEST_F(HostileInputTest, PipesAreReadOnlyUpToTheLimit) {
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string header = "P5 64 64 255\n";
  // A whole image through the pipe, exactly at the limit.
  std::thread whole(FeedFifo, fifo, header, 64 * 64);
  ImageResult r = ReadImage(fifo, static_cast<int64_t>(header.size() + 64 * 64));
  whole.join();
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.image.width, 64);
  // An endless one (as far as the reader can tell): refused at the limit.
  std::thread endless(FeedFifo, fifo, header, size_t{1} << 24);
  r = ReadImage(fifo, 1 << 16);
  endless.join();
  EXPECT_EQ(r.error, fifo + ": input goes on past the limit of 65536 bytes");
  std::signal(SIGPIPE, previous);
}

TEST_F(HostileInputTest, FailedWritesLeaveNoPartialFile) {
  GreyImage image;
  image.width = 200;
  image.height = 200;
  for (int i = 0; i < 200 * 200; ++i) image.pixels.push_back(static_cast<uint8_t>((i * 2654435761u) >> 24));

  // A full device: the error names it and the device stays a device.
  const WriteResult full = WritePng("/dev/full", image);
  EXPECT_EQ(full.error, "/dev/full: write failed: No space left on device");
  struct stat info {};
  ASSERT_EQ(::stat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));

  // A file size limit in a child process: the old file keeps its contents and
  // no temporary file is left.
  const std::string target = Path("out.pgm");
  std::ofstream(target) << "old";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{10000, 10000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const WriteResult r = WritePgm(target, image);
    _exit(r.error == target + ": write failed: File too large" ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
  // The same write without the limit replaces it whole.
  ASSERT_TRUE(WritePgm(target, image).ok());
  EXPECT_EQ(ReadImage(target).image.pixels, image.pixels);
}

TEST_F(HostileInputTest, ImageSizeLimitsAreExact) {
  const auto pgm = [](int64_t w, int64_t h) {
    const std::string header = "P5 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
    Bytes b(header.begin(), header.end());
    b.resize(b.size() + static_cast<size_t>(w * h), 128);
    return b;
  };
  EXPECT_TRUE(DecodeImage(pgm(kMaxImageSide, 1), "side.pgm").ok());
  EXPECT_EQ(DecodeImage(pgm(kMaxImageSide + 1, 1), "wide.pgm").error,
            "wide.pgm: PNM image size 32769 x 1 is over the limit of 32768 pixels per side");
  EXPECT_TRUE(DecodeImage(pgm(4096, 4096), "area.pgm").ok());
  EXPECT_EQ(DecodeImage(pgm(4097, 4096), "big.pgm").error,
            "big.pgm: PNM image size 4097 x 4096 is over the limit of 16777216 pixels");
  // Nothing is written that could not be read back.
  GreyImage wide;
  wide.width = kMaxImageSide + 1;
  wide.height = 1;
  wide.pixels.assign(static_cast<size_t>(wide.width), 0);
  EXPECT_FALSE(WritePgm(Path("wide.pgm"), wide).ok());
  EXPECT_FALSE(std::filesystem::exists(Path("wide.pgm")));
}

}  // namespace
}  // namespace vorsensor::imageio
