#include "manifest.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "durable.h"
#include "hash.h"

namespace quillet::cli::plan {
namespace {

// A manifest is a few lines per file; anything far larger is no manifest of ours.
constexpr std::uintmax_t kLargestManifest = 16 << 20;

// A name as a message can show it: bytes outside printable ASCII as \xNN.
std::string Escaped(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) {
      shown += c;
      continue;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    shown += std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 15];
  }
  return shown;
}

// JSON holds UTF-8 only, and a name written in its place would be another file's.
std::string NameProblem(const std::string& name) {
  try {
    (void)nlohmann::json(name).dump();
    return "";
  } catch (const nlohmann::json::exception&) {
    return "file name " + Escaped(name) + " is not UTF-8; the generation is not kept";
  }
}

}  // namespace

std::string HashFolder(const std::filesystem::path& folder, Manifest& manifest) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().filename() == kManifestName) continue;
    std::error_code ignored;
    if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored)) {
      return entry.path().string() + " is not a regular file, which a manifest cannot vouch for";
    }
    files.push_back(entry.path());
  }
  if (error) return "cannot list " + folder.string() + ": " + error.message();
  if (files.empty()) return "the snapshot wrote no file into " + folder.string();
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::string problem;
    const std::optional<FileHash> hash = HashFile(path, problem);
    if (!hash) return problem;
    manifest.files.push_back({path.filename().string(), hash->size, hash->sha256});
  }
  return "";
}

std::string WriteManifest(const std::filesystem::path& folder, const Manifest& manifest) {
  nlohmann::json files = nlohmann::json::array();
  for (const ManifestFile& file : manifest.files) {
    if (std::string problem = NameProblem(file.name); !problem.empty()) return problem;
    files.push_back({{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}});
  }
  const nlohmann::json document = {{"format", manifest.format},
                                   {"server", manifest.server},
                                   {"database", manifest.database},
                                   {"run", manifest.run},
                                   {"start", manifest.start},
                                   {"end", manifest.end},
                                   {"files", files},
                                   {"result", manifest.result}};
  const std::filesystem::path path = folder / kManifestName;
  std::string text;
  try {
    text = document.dump(2);
  } catch (const nlohmann::json::exception& failure) {
    // The server's or the database's name: no file of the generation is to blame.
    return "cannot write " + path.string() + ": " + failure.what();
  }
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text << "\n";
    out.close();
    if (!out) return "cannot write " + path.string();
  }
  for (const ManifestFile& file : manifest.files) {
    if (!SyncFile(folder / file.name)) return "cannot sync " + (folder / file.name).string();
  }
  if (!SyncFile(path)) return "cannot sync " + path.string();
  if (!SyncFolder(folder)) return "cannot sync the folder " + folder.string();
  return "";
}

std::optional<Manifest> ReadManifest(const std::filesystem::path& folder, std::string& problem) {
  const std::filesystem::path path = folder / kManifestName;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    problem = "no manifest: " + path.string();
    return std::nullopt;
  }
  if (size > kLargestManifest) {
    problem = path.string() + " is too large to be a manifest";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  const nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
  try {
    if (document.is_discarded() || !document.is_object()) throw std::runtime_error("not JSON");
    Manifest manifest;
    manifest.format = document.at("format").get<int>();
    if (manifest.format != kManifestFormat) throw std::runtime_error("an unknown format");
    manifest.server = document.at("server").get<std::string>();
    manifest.database = document.at("database").get<std::string>();
    manifest.run = document.at("run").get<std::string>();
    manifest.start = document.at("start").get<std::string>();
    manifest.end = document.at("end").get<std::string>();
    manifest.result = document.at("result").get<int32_t>();
    for (const auto& file : document.at("files")) {
      ManifestFile entry{file.at("name").get<std::string>(), file.at("size").get<uint64_t>(),
                         file.at("sha256").get<std::string>()};
      // A name that leaves the folder is no file of this generation.
      if (entry.name.empty() || entry.name == "." || entry.name == ".." ||
          entry.name.find_first_of("/\\") != std::string::npos) {
        throw std::runtime_error("a file name that leaves the folder");
      }
      manifest.files.push_back(std::move(entry));
    }
    if (manifest.files.empty()) throw std::runtime_error("no files");
    return manifest;
  } catch (const std::exception& failure) {
    problem = path.string() + " is not a readable manifest (" + failure.what() + ")";
    return std::nullopt;
  }
}

std::vector<std::string> CheckFiles(const std::filesystem::path& folder, const Manifest& manifest,
                                    bool hashes) {
  std::vector<std::string> problems;
  std::set<std::string> named;
  for (const ManifestFile& file : manifest.files) {
    named.insert(file.name);
    const std::filesystem::path path = folder / file.name;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
      problems.push_back(file.name + ": missing");
      continue;
    }
    if (size != file.size) {
      problems.push_back(file.name + ": " + std::to_string(size) + " bytes, the manifest says " +
                         std::to_string(file.size));
      continue;
    }
    if (!hashes) continue;
    std::string problem;
    const std::optional<FileHash> hash = HashFile(path, problem);
    if (!hash) {
      problems.push_back(file.name + ": " + problem);
    } else if (hash->sha256 != file.sha256) {
      problems.push_back(file.name + ": its SHA-256 differs from the manifest's");
    }
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name != kManifestName && named.count(name) == 0) {
      problems.push_back(name + ": not named in the manifest");
    }
  }
  return problems;
}

}  // namespace quillet::cli::plan
