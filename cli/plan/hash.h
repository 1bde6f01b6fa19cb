// SHA-256 of a file, in lower-case hex: OpenSSL's EVP interface on Linux (the processor's SHA
// instructions where it has them), the system's BCrypt on Windows.
#ifndef QUILLET_CLI_PLAN_HASH_H
#define QUILLET_CLI_PLAN_HASH_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quillet::cli::plan {

struct FileHash {
  std::string sha256;
  uint64_t size = 0;
};

// nullopt with the reason when the file cannot be read whole.
std::optional<FileHash> HashFile(const std::filesystem::path& path, std::string& error);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_HASH_H
