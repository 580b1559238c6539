// Runs a fuzz target without libFuzzer: every file of the given folders (the
// committed corpus and the regression inputs) goes through
// LLVMFuzzerTestOneInput, then a fixed number of deterministic mutants of each
// (bytes flipped, inserted, removed, the input cut short). The test suite runs
// this under the Address and Undefined Behaviour sanitizers with the ordinary
// compiler, so every harness and every input that once crashed is exercised on
// each run; real fuzzing stays with scripts/fuzz.sh (clang + libFuzzer).
// Usage: fuzz_replay_<name> [--mutants=N] PATH...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RunOne(const std::vector<uint8_t>& bytes) {
  // An empty vector has no data(); the harnesses get a valid pointer anyway.
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
}

// One mutant: a few random edits of the kinds libFuzzer starts with.
std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes, std::mt19937& random) {
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int e = 0; e < edits; ++e) {
    const uint32_t kind = random() % 5;
    const size_t size = bytes.size();
    const size_t at = size == 0 ? 0 : random() % size;
    if (kind == 0 && size > 0) {
      bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    } else if (kind == 1 && size > 0) {
      bytes[at] = static_cast<uint8_t>(random());
    } else if (kind == 2) {
      bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random()));
    } else if (kind == 3 && size > 0) {
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (size > 0) {
      bytes.resize(at);
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  long mutants = 0;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--mutants=", 0) == 0) {
      mutants = std::strtol(arg.c_str() + 10, nullptr, 10);
      continue;
    }
    const fs::path path(arg);
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(path)) {
      files.push_back(path);
    } else {
      std::fprintf(stderr, "fuzz replay: %s: no such file or folder\n", arg.c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "fuzz replay: no inputs\n");
    return 2;
  }
  std::mt19937 random(20261206u);
  for (const fs::path& file : files) {
    const std::vector<uint8_t> bytes = ReadFile(file);
    RunOne(bytes);
    for (long m = 0; m < mutants; ++m) RunOne(Mutate(bytes, random));
  }
  std::printf("fuzz replay: %zu inputs, %ld mutants each\n", files.size(), mutants);
  return 0;
}
