// manifest.json: what a generation holds, written and synced before its folder takes its name.
// A generation without one does not exist.
#ifndef QUILLET_CLI_PLAN_MANIFEST_H
#define QUILLET_CLI_PLAN_MANIFEST_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli::plan {

inline constexpr int kManifestFormat = 1;
inline constexpr const char* kManifestName = "manifest.json";

struct ManifestFile {
  std::string name;
  uint64_t size = 0;
  std::string sha256;
};

struct Manifest {
  int format = kManifestFormat;
  std::string server;
  std::string database;
  std::string run;
  std::string start;
  std::string end;
  std::vector<ManifestFile> files;
  // The library's result for the snapshot.
  int32_t result = 0;
};

// Hashes every file in the folder into manifest.files; empty, or why not. A subfolder or
// anything but a regular file is refused: the manifest could not vouch for it.
std::string HashFolder(const std::filesystem::path& folder, Manifest& manifest);
// Writes and syncs manifest.json, the files it names, and the folder; empty, or why not.
std::string WriteManifest(const std::filesystem::path& folder, const Manifest& manifest);
std::optional<Manifest> ReadManifest(const std::filesystem::path& folder, std::string& problem);
// "FILE: what" for each file that differs from the manifest (missing, another size, with
// hashes another SHA-256) and each file it does not name.
std::vector<std::string> CheckFiles(const std::filesystem::path& folder, const Manifest& manifest,
                                    bool hashes);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_MANIFEST_H
