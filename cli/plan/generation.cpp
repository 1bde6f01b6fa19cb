#include "generation.h"

#include <algorithm>
#include <ctime>

#include "durable.h"
#include "manifest.h"

namespace quillet::cli::plan {
namespace {

std::tm UtcParts(Clock::time_point time) {
  const std::time_t seconds = Clock::to_time_t(time);
  std::tm parts{};
#if defined(_WIN32)
  gmtime_s(&parts, &seconds);
#else
  gmtime_r(&seconds, &parts);
#endif
  return parts;
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::string GenerationName(Clock::time_point time) {
  const std::tm parts = UtcParts(time);
  char text[32];
  (void)std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

std::string IsoTime(Clock::time_point time) {
  const std::tm parts = UtcParts(time);
  char text[32];
  (void)std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::optional<Clock::time_point> GenerationTime(std::string_view name) {
  constexpr std::size_t kLength = 16;
  if (name.size() != kLength || name[8] != 'T' || name[15] != 'Z') return std::nullopt;
  int64_t fields[6] = {};
  const std::size_t starts[6] = {0, 4, 6, 9, 11, 13};
  const std::size_t lengths[6] = {4, 2, 2, 2, 2, 2};
  for (std::size_t k = 0; k < 6; ++k) {
    for (std::size_t c = starts[k]; c < starts[k] + lengths[k]; ++c) {
      if (name[c] < '0' || name[c] > '9') return std::nullopt;
      fields[k] = fields[k] * 10 + (name[c] - '0');
    }
  }
  // Years the clock holds on every build (its nanoseconds reach 1677 to 2262).
  if (fields[0] < 1970 || fields[0] > 2200 || fields[1] < 1 || fields[1] > 12 || fields[2] < 1 ||
      fields[2] > 31 || fields[3] > 23 || fields[4] > 59 || fields[5] > 60) {
    return std::nullopt;
  }
  const int64_t seconds = DaysFromCivil(fields[0], fields[1], fields[2]) * 86400 +
                          fields[3] * 3600 + fields[4] * 60 + fields[5];
  const Clock::time_point time{std::chrono::seconds(seconds)};
  // A day the month does not have (20260230T...) names no time a run could have written.
  if (GenerationName(time) != name) return std::nullopt;
  return time;
}

std::filesystem::path DatabaseFolder(const std::filesystem::path& root, const std::string& server,
                                     const std::string& database) {
  return root / server / database;
}

bool SafeFolderName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name != kStateFolder &&
         name.find_first_of("/\\:") == std::string::npos;
}

std::vector<Generation> ListGenerations(const std::filesystem::path& databaseFolder,
                                        Clock::time_point now) {
  std::vector<Generation> generations;
  const std::string database = databaseFolder.filename().string();
  const std::string server = databaseFolder.parent_path().filename().string();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(databaseFolder, error)) {
    std::error_code ignored;
    if (!entry.is_directory(ignored) || entry.is_symlink(ignored)) continue;
    Generation generation;
    generation.path = entry.path();
    std::string name = entry.path().filename().string();
    if (name.size() > kPartialSuffix.size() &&
        name.compare(name.size() - kPartialSuffix.size(), kPartialSuffix.size(), kPartialSuffix) ==
            0) {
      generation.partial = true;
      name.resize(name.size() - kPartialSuffix.size());
    }
    const std::optional<Clock::time_point> time = GenerationTime(name);
    const bool shaped = name.size() == 16 && name[8] == 'T' && name[15] == 'Z';
    if (!time && !shaped) continue;
    generation.name = name;
    // A name shaped like one whose time the clock cannot hold sorts last and never counts.
    generation.time = time ? *time : Clock::time_point{};
    generation.refused = CheckPrivateFolder(generation.path);
    if (generation.refused.empty() && !generation.partial) {
      generation.refused = CheckPrivateFile(generation.path / kManifestName);
    }
    if (!generation.refused.empty()) {
      generation.ordered = false;
      generation.problem = generation.refused;
    } else if (!time) {
      generation.ordered = false;
      generation.problem = "its name is not a time this system can order, so it is not counted";
    } else if (!generation.partial && *time > now + kClockSkew) {
      generation.ordered = false;
      generation.problem = "its name is in the future, so it is not counted";
    } else if (generation.partial) {
      generation.problem = "unfinished: a run stopped while writing it";
    } else {
      std::string problem;
      const std::optional<Manifest> manifest = ReadManifest(generation.path, problem);
      if (manifest) {
        generation.hasManifest = true;
        std::vector<std::string> problems = CheckFiles(generation.path, *manifest, false);
        // A generation copied in from another database's folder is no backup of this one.
        if (manifest->server != server || manifest->database != database) {
          problems.insert(problems.begin(),
                          "its manifest is of " + manifest->server + "/" + manifest->database);
        }
        generation.complete = problems.empty();
        if (!problems.empty()) generation.problem = problems.front();
        for (const ManifestFile& file : manifest->files) generation.bytes += file.size;
      } else {
        std::error_code missing;
        generation.noManifest =
            !std::filesystem::exists(generation.path / kManifestName, missing) && !missing;
        generation.problem = problem;
      }
    }
    generations.push_back(std::move(generation));
  }
  std::sort(generations.begin(), generations.end(), [](const Generation& a, const Generation& b) {
    if (a.time != b.time) return a.time > b.time;
    return a.name != b.name ? a.name > b.name : a.partial < b.partial;
  });
  return generations;
}

std::string NewGenerationName(const std::vector<Generation>& existing, Clock::time_point now) {
  Clock::time_point time = std::chrono::time_point_cast<std::chrono::seconds>(now);
  for (const Generation& generation : existing) {
    if (generation.time >= time && generation.time <= now + kClockSkew) {
      time = generation.time + std::chrono::seconds(1);
    }
  }
  const auto taken = [&existing](const std::string& name) {
    return std::any_of(existing.begin(), existing.end(),
                       [&name](const Generation& generation) { return generation.name == name; });
  };
  while (taken(GenerationName(time))) time += std::chrono::seconds(1);
  return GenerationName(time);
}

}  // namespace quillet::cli::plan
