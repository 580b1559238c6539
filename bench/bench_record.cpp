// Per-call cost of the template formats: record write and read, seal and
// open of a 500-byte record, template text encode and decode.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "component/template_text.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "services/template_cipher.h"
#include "random.h"

namespace vorsensor {
namespace {

// 60 minutiae with spreads and density values (a typical capture); with
// `grid`, also a 16 x 18 block grid with a background border.
std::unique_ptr<FeatureSet> TypicalSet(bool grid) {
  testing::TestRandom random(42);
  auto set = std::make_unique<FeatureSet>();
  set->densityByte = 90;
  set->minutiaCount = 60;
  for (int32_t i = 0; i < set->minutiaCount; ++i) {
    set->minutiae[i] = Minutia{random.Range(20, 235), random.Range(20, 267), random.Range(1, 2),
                               static_cast<uint8_t>(random.Range(0, 239)), static_cast<uint8_t>(random.Range(0, 60)),
                               static_cast<uint8_t>(random.Range(0, 200)), 0};
  }
  if (grid) {
    set->gridWidth = 16;
    set->gridHeight = 18;
    for (int32_t r = 0; r < 18; ++r) {
      for (int32_t c = 0; c < 16; ++c) {
        const bool border = r < 2 || r > 15 || c < 2 || c > 13;
        set->grid[r][c] = border ? kBackgroundBlock : static_cast<uint8_t>((r * 3 + c * 2) % 120);
      }
    }
  }
  return set;
}

void BM_WriteTemplateRecord(benchmark::State& state) {
  const auto set = TypicalSet(state.range(0) != 0);
  std::vector<uint8_t> out(kRecordWorkBufferSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(WriteTemplateRecord(set.get(), out.data(), out.size()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WriteTemplateRecord)->Arg(0)->Arg(1);

void BM_ReadTemplateRecord(benchmark::State& state) {
  const auto set = TypicalSet(state.range(0) != 0);
  std::vector<uint8_t> record(kRecordWorkBufferSize);
  const int32_t length = WriteTemplateRecord(set.get(), record.data(), record.size());
  auto read = std::make_unique<FeatureSet>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadTemplateRecord(record.data(), static_cast<size_t>(length), read.get()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ReadTemplateRecord)->Arg(0)->Arg(1);

void BM_SealTemplateRecord(benchmark::State& state) {
  std::vector<uint8_t> record(kSealedTemplateBytes, 0x3C);
  std::vector<uint8_t> sealed(kSealedTemplateBytes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(SealTemplateRecord(record.data(), record.size(), sealed.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SealTemplateRecord);

void BM_OpenTemplateRecord(benchmark::State& state) {
  std::vector<uint8_t> sealed(kSealedTemplateBytes, 0x3C);
  std::vector<uint8_t> record(kSealedTemplateBytes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(OpenTemplateRecord(sealed.data(), record.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_OpenTemplateRecord);

void BM_EncodeTemplateText(benchmark::State& state) {
  std::vector<uint8_t> sealed(kSealedTemplateBytes, 0xA7);
  std::vector<char> text(kTemplateTextBufferSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodeTemplateText(sealed.data(), kSealedTemplateBytes, text.data(), text.size()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_EncodeTemplateText);

void BM_DecodeTemplateText(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < kSealedTemplateBytes; ++i) text += "A7";
  std::vector<uint8_t> buffer(kDecodedTemplateBufferSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodeTemplateText(text, buffer.data(), buffer.size()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DecodeTemplateText);

}  // namespace
}  // namespace vorsensor

BENCHMARK_MAIN();
