#pragma once
// Where tests find the project's own files and the optional development image sets.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vorsensor::testing {

// The repository root (committed test images live under data/).
inline std::filesystem::path SourceDir() { return VS_SOURCE_DIR; }

// The shared folder of real fingerprint images, or an empty path when it is not
// there (tests that use it skip then). VS_SHARED_DATA overrides the location.
inline std::filesystem::path SharedDataDir() {
  const char* env = std::getenv("VS_SHARED_DATA");
  std::filesystem::path dir = env != nullptr ? std::filesystem::path(env) : std::filesystem::path(VS_SHARED_DATA_DIR);
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

}  // namespace vorsensor::testing
