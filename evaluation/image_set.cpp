// Finding the images of a set: the FINGER_IMPRESSION naming of a folder or
// the rows of a manifest.csv.
#include "evaluation/image_set.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

namespace vorsensor::evaluation {
namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestName = "manifest.csv";
constexpr size_t kMaxNumberDigits = 6;  // impressions and resolutions stay far below a million
constexpr const char* kImageExtensions[] = {".pgm", ".pnm", ".pbm", ".ppm", ".png", ".bmp", ".tif", ".tiff"};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// A positive number of at most kMaxNumberDigits digits.
bool ParseCount(const std::string& s, int32_t* value) {
  if (!AllDigits(s) || s.size() > kMaxNumberDigits) return false;
  *value = std::stoi(s);
  return *value > 0;
}

bool IsImageFile(const fs::path& path) {
  const std::string ext = Lower(path.extension().string());
  return std::any_of(std::begin(kImageExtensions), std::end(kImageExtensions),
                     [&](const char* e) { return ext == e; });
}

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b])) != 0) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])) != 0) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, ',')) cells.push_back(Trim(cell));
  if (!line.empty() && line.back() == ',') cells.emplace_back();
  return cells;
}

// Finger keys in natural order: numbers by value, then names as text.
bool FingerBefore(const std::string& a, const std::string& b) {
  const bool na = AllDigits(a);
  const bool nb = AllDigits(b);
  if (na != nb) return na;
  if (na) {
    const std::string sa = a.substr(std::min(a.find_first_not_of('0'), a.size()));
    const std::string sb = b.substr(std::min(b.find_first_not_of('0'), b.size()));
    if (sa.size() != sb.size()) return sa.size() < sb.size();
    if (sa != sb) return sa < sb;
  }
  return a < b;
}

struct Entry {
  std::string path;
  std::string name;
  std::string finger;
  int32_t impression;
  int32_t dpi;
};

// Orders the entries of one set, gives fingers their indices and refuses a
// finger and impression given twice.
bool BuildSet(const std::string& name, const std::string& where, std::vector<Entry> entries, ImageSet* set,
              std::string* error) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.finger != b.finger) return FingerBefore(a.finger, b.finger);
    return std::tie(a.impression, a.name) < std::tie(b.impression, b.name);
  });
  set->name = name;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (i > 0 && entries[i - 1].finger == e.finger && entries[i - 1].impression == e.impression) {
      *error = where + ": " + entries[i - 1].name + " and " + e.name + " are both impression " +
               std::to_string(e.impression) + " of finger " + e.finger;
      return false;
    }
    if (set->fingers.empty() || set->fingers.back() != e.finger) set->fingers.push_back(e.finger);
    set->images.push_back({e.path, e.name, static_cast<int32_t>(set->fingers.size()) - 1, e.impression, e.dpi});
  }
  return true;
}

bool LoadManifest(const fs::path& folder, const fs::path& manifest, std::vector<ImageSet>* sets, std::string* error) {
  const std::string where = manifest.string();
  std::ifstream in(manifest);
  if (!in) {
    *error = where + ": cannot read the manifest";
    return false;
  }
  std::string line;
  if (!std::getline(in, line)) {
    *error = where + ": empty manifest (needs a header line file,finger,impression[,dpi][,set])";
    return false;
  }
  std::map<std::string, size_t> columns;
  const std::vector<std::string> header = SplitCsvLine(line);
  for (size_t i = 0; i < header.size(); ++i) columns[Lower(header[i])] = i;
  for (const char* required : {"file", "finger", "impression"}) {
    if (columns.count(required) == 0) {
      *error = where + ": the header has no " + required + " column (needs file,finger,impression[,dpi][,set])";
      return false;
    }
  }
  const bool hasSet = columns.count("set") != 0;
  const bool hasDpi = columns.count("dpi") != 0;
  std::map<std::string, std::vector<Entry>> bySet;
  std::vector<std::string> setOrder;
  int lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (Trim(line).empty()) continue;
    const std::vector<std::string> cells = SplitCsvLine(line);
    const std::string at = where + " line " + std::to_string(lineNumber);
    if (cells.size() < header.size()) {
      *error = at + ": " + std::to_string(cells.size()) + " fields, the header has " + std::to_string(header.size());
      return false;
    }
    Entry e;
    e.name = cells[columns["file"]];
    e.finger = cells[columns["finger"]];
    e.dpi = 0;
    if (e.name.empty() || e.finger.empty()) {
      *error = at + ": empty file or finger";
      return false;
    }
    if (!ParseCount(cells[columns["impression"]], &e.impression)) {
      *error = at + ": impression \"" + cells[columns["impression"]] + "\" is not a whole number from 1 to 999999";
      return false;
    }
    if (hasDpi) {
      const std::string dpi = Lower(cells[columns["dpi"]]);
      if (!dpi.empty() && dpi != "unknown" && !ParseCount(dpi, &e.dpi)) {
        *error = at + ": dpi \"" + cells[columns["dpi"]] + "\" is not a whole number, empty or unknown";
        return false;
      }
    }
    const fs::path path = folder / e.name;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
      *error = at + ": " + path.string() + " does not exist or is not a regular file";
      return false;
    }
    e.path = path.string();
    const std::string setName = hasSet ? cells[columns["set"]] : folder.filename().string();
    if (bySet.count(setName) == 0) setOrder.push_back(setName);
    bySet[setName].push_back(std::move(e));
  }
  if (setOrder.empty()) {
    *error = where + ": the manifest lists no images";
    return false;
  }
  for (const std::string& name : setOrder) {
    ImageSet set;
    if (!BuildSet(name, where, bySet[name], &set, error)) return false;
    sets->push_back(std::move(set));
  }
  return true;
}

bool LoadNamedFolder(const fs::path& folder, std::vector<ImageSet>* sets, std::string* error) {
  const std::string where = folder.string();
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.filename().string().rfind('.', 0) == 0) continue;  // hidden files
    std::error_code typeError;
    if (it->is_regular_file(typeError) && IsImageFile(p)) files.push_back(p);
  }
  if (ec) {
    *error = where + ": cannot list the folder (" + ec.message() + ")";
    return false;
  }
  if (files.empty()) {
    *error = where + ": no fingerprint images (.pgm, .pnm, .png, .bmp, .tif named FINGER_IMPRESSION, like 101_1.tif) "
             "and no manifest.csv";
    return false;
  }
  std::sort(files.begin(), files.end());
  std::vector<Entry> entries;
  std::vector<std::string> misnamed;
  for (const fs::path& p : files) {
    Entry e;
    e.path = p.string();
    e.name = p.filename().string();
    e.dpi = 0;
    if (ParseImpressionName(p.stem().string(), &e.finger, &e.impression)) {
      entries.push_back(std::move(e));
    } else {
      misnamed.push_back(e.name);
    }
  }
  if (!misnamed.empty()) {
    *error = where + ": " + misnamed.front() +
             (misnamed.size() > 1 ? " (and " + std::to_string(misnamed.size() - 1) + " more)" : std::string()) +
             " not named FINGER_IMPRESSION.ext like 101_1.tif" +
             (entries.empty() ? std::string() : ", as " + entries.front().name + " is") +
             "; rename them or list the images in a manifest.csv";
    return false;
  }
  ImageSet set;
  if (!BuildSet(folder.filename().string(), where, std::move(entries), &set, error)) return false;
  sets->push_back(std::move(set));
  return true;
}

}  // namespace

bool ParseImpressionName(const std::string& stem, std::string* finger, int32_t* impression) {
  const size_t cut = stem.rfind('_');
  if (cut == std::string::npos || cut == 0) return false;
  std::string tail = stem.substr(cut + 1);
  // An impression may carry a one-letter prefix (f01_i1).
  if (!tail.empty() && std::isalpha(static_cast<unsigned char>(tail[0])) != 0) tail.erase(0, 1);
  if (!ParseCount(tail, impression)) return false;
  *finger = stem.substr(0, cut);
  return true;
}

bool LoadImageSets(const std::string& folder, std::vector<ImageSet>* sets, std::string* error) {
  fs::path dir(folder);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = folder + ": not a folder";
    return false;
  }
  // "data/set/" names the set "set", not "".
  if (!dir.has_filename()) dir = dir.parent_path();
  if (dir.filename() == "." || dir.filename() == "..") dir = fs::absolute(dir, ec).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  const fs::path manifest = dir / kManifestName;
  if (fs::exists(manifest, ec)) return LoadManifest(dir, manifest, sets, error);
  return LoadNamedFolder(dir, sets, error);
}

}  // namespace vorsensor::evaluation
