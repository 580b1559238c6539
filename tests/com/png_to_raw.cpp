// Host-side helper of the Windows tests: writes each 8-bit grey PNG given as
// <input.png> <output.raw> pairs as its bare pixels (rows top first), which
// the test build on the simulated sensor is fed with under Wine.
#include <png.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, argv[i])) {
      std::fprintf(stderr, "png_to_raw: %s: %s\n", argv[i], image.message);
      return 2;
    }
    image.format = PNG_FORMAT_GRAY;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
      std::fprintf(stderr, "png_to_raw: %s: %s\n", argv[i], image.message);
      return 2;
    }
    std::FILE* out = std::fopen(argv[i + 1], "wb");
    if (out == nullptr || std::fwrite(pixels.data(), 1, pixels.size(), out) != pixels.size() || std::fclose(out) != 0) {
      std::fprintf(stderr, "png_to_raw: cannot write %s\n", argv[i + 1]);
      return 2;
    }
  }
  return 0;
}
