// Netpbm grey and colour maps: P2/P5 (grey) and P3/P6 (RGB), ASCII or binary,
// with maxval up to 65535 (binary samples above 255 take two bytes, big-endian).
#include "imageio/codecs.h"
#include "imageio/image_io.h"

namespace vorsensor::imageio {

namespace {

constexpr uint32_t kMaxSampleValue = 65535;

class PnmScanner {
 public:
  PnmScanner(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Reads one unsigned decimal number after whitespace and comments.
  bool Number(uint32_t& value) {
    SkipSpaceAndComments();
    if (pos_ >= size_ || data_[pos_] < '0' || data_[pos_] > '9') {
      return false;
    }
    uint64_t v = 0;
    while (pos_ < size_ && data_[pos_] >= '0' && data_[pos_] <= '9') {
      v = v * 10 + (data_[pos_] - '0');
      if (v > 0xFFFFFFFFu) {
        return false;
      }
      ++pos_;
    }
    value = static_cast<uint32_t>(v);
    return true;
  }

  // After the header: exactly one whitespace byte precedes binary samples.
  bool SingleSpace() {
    if (pos_ >= size_ || !IsSpace(data_[pos_])) {
      return false;
    }
    ++pos_;
    return true;
  }

  size_t pos() const { return pos_; }

 private:
  static bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

  void SkipSpaceAndComments() {
    while (pos_ < size_) {
      if (IsSpace(data_[pos_])) {
        ++pos_;
      } else if (data_[pos_] == '#') {
        while (pos_ < size_ && data_[pos_] != '\n' && data_[pos_] != '\r') {
          ++pos_;
        }
      } else {
        break;
      }
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 2;  // after the magic number
};

// The grey value of one pixel's samples: one grey sample or three colour samples.
uint8_t GreyOfSamples(const uint32_t* sample, uint32_t channels, uint32_t maxval) {
  return channels == 1 ? ScaleSample(sample[0], maxval)
                       : GreyOfRgb(ScaleSample(sample[0], maxval), ScaleSample(sample[1], maxval),
                                   ScaleSample(sample[2], maxval));
}

std::string SampleAboveMaxval(uint32_t sample, uint32_t maxval) {
  return "PNM sample " + std::to_string(sample) + " exceeds maxval " + std::to_string(maxval);
}

}  // namespace

std::string DecodePnm(const uint8_t* data, size_t size, GreyImage& image) {
  const char kind = static_cast<char>(data[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6') {
    return std::string("PNM kind P") + kind + " is not supported (only P2, P3, P5, P6)";
  }
  const bool ascii = kind == '2' || kind == '3';
  const uint32_t channels = (kind == '3' || kind == '6') ? 3 : 1;
  PnmScanner scan(data, size);
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t maxval = 0;
  if (!scan.Number(width) || !scan.Number(height) || !scan.Number(maxval)) {
    return "PNM header is incomplete or malformed";
  }
  if (std::string error = CheckDimensions(width, height); !error.empty()) {
    return "PNM " + error;
  }
  if (maxval == 0 || maxval > kMaxSampleValue) {
    return "PNM maxval " + std::to_string(maxval) + " is outside 1..65535";
  }
  const size_t count = static_cast<size_t>(width) * height;
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.pixels.resize(count);
  uint32_t sample[3] = {};
  if (ascii) {
    for (size_t i = 0; i < count; ++i) {
      for (uint32_t c = 0; c < channels; ++c) {
        if (!scan.Number(sample[c])) {
          return "PNM sample data is truncated or malformed at pixel " + std::to_string(i);
        }
        if (sample[c] > maxval) {
          return SampleAboveMaxval(sample[c], maxval);
        }
      }
      image.pixels[i] = GreyOfSamples(sample, channels, maxval);
    }
    return {};
  }
  if (!scan.SingleSpace()) {
    return "PNM header does not end with a whitespace byte";
  }
  const size_t sampleBytes = maxval > 255 ? 2 : 1;
  const size_t start = scan.pos();
  const uint64_t needed = static_cast<uint64_t>(count) * channels * sampleBytes;
  if (size - start < needed) {
    return "PNM sample data is truncated (needs " + std::to_string(needed) + " bytes, file has " +
           std::to_string(size - start) + ")";
  }
  const uint8_t* p = data + start;
  for (size_t i = 0; i < count; ++i) {
    for (uint32_t c = 0; c < channels; ++c) {
      sample[c] = sampleBytes == 2 ? (static_cast<uint32_t>(p[0]) << 8 | p[1]) : p[0];
      p += sampleBytes;
      if (sample[c] > maxval) {
        return SampleAboveMaxval(sample[c], maxval);
      }
    }
    image.pixels[i] = GreyOfSamples(sample, channels, maxval);
  }
  return {};
}

}  // namespace vorsensor::imageio
