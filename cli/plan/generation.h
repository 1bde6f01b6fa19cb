// Where generations live: ROOT/SERVER/DATABASE/GENERATION/, GENERATION the UTC time of the
// snapshot, "20261209T021500Z", made while it is written in GENERATION.partial/.
#ifndef QUILLET_CLI_PLAN_GENERATION_H
#define QUILLET_CLI_PLAN_GENERATION_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli::plan {

using Clock = std::chrono::system_clock;

inline constexpr std::string_view kPartialSuffix = ".partial";
inline constexpr const char* kStateFolder = ".quillet";

// "20261209T021500Z".
std::string GenerationName(Clock::time_point time);
// nullopt for any other name, and for a time the clock cannot hold.
std::optional<Clock::time_point> GenerationTime(std::string_view name);
// How far ahead of the clock a generation's name may be and still count: beyond it the name
// came from a clock that ran ahead, or from someone else.
inline constexpr std::chrono::seconds kClockSkew{600};
// "2026-12-09T02:15:00Z", for manifests, journals and JSON.
std::string IsoTime(Clock::time_point time);

std::filesystem::path DatabaseFolder(const std::filesystem::path& root, const std::string& server,
                                     const std::string& database);

struct Generation {
  std::string name;
  Clock::time_point time;
  std::filesystem::path path;
  // GENERATION.partial/: what a run left unfinished.
  bool partial = false;
  // False for a name in the future beyond kClockSkew: kept and named, never counted, never
  // deleted, never the newest.
  bool ordered = true;
  // Its manifest reads.
  bool hasManifest = false;
  // There is no manifest at all; one that is there but does not read is kept for a person.
  bool noManifest = false;
  // And names files that are there with their sizes, and no others.
  bool complete = false;
  uint64_t bytes = 0;
  // Why it is not complete.
  std::string problem;
  // Why it is not this user's: a folder or manifest another user could have put or changed.
  // Such a generation is not ordered, so nothing counts it, keeps it as a backup or deletes it.
  std::string refused;
};

// The generations in a database's folder, newest first by the time in their names, with what
// is unfinished and what is refused; other entries are not the plan's and are left out.
std::vector<Generation> ListGenerations(const std::filesystem::path& databaseFolder,
                                        Clock::time_point now = Clock::now());

// A name no generation of the database has, never older than the newest counted one: a clock
// set back a little between runs does not make a new generation sort before an older one. A
// name in the future is not chased, or one such name would push every later one ahead.
std::string NewGenerationName(const std::vector<Generation>& existing, Clock::time_point now);

// Names that are safe as one folder below the server's: no separator, no "." or "..".
bool SafeFolderName(const std::string& name);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_GENERATION_H
