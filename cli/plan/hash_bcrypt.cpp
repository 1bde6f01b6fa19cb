#include <windows.h>
// After windows.h.
#include <bcrypt.h>

#include <cstdio>
#include <vector>

#include "hash.h"

namespace quillet::cli::plan {
namespace {

constexpr DWORD kReadSize = 1 << 20;
constexpr ULONG kDigestSize = 32;

}  // namespace

std::optional<FileHash> HashFile(const std::filesystem::path& path, std::string& error) {
  const std::string name = path.string();
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot read " + name + " (Windows error " + std::to_string(GetLastError()) + ")";
    return std::nullopt;
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hashing = nullptr;
  bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
            BCryptCreateHash(algorithm, &hashing, nullptr, 0, nullptr, 0, 0) >= 0;
  FileHash hash;
  std::vector<unsigned char> buffer(kReadSize);
  while (ok) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), kReadSize, &got, nullptr)) {
      error = "cannot read " + name + " (Windows error " + std::to_string(GetLastError()) + ")";
      ok = false;
      break;
    }
    if (got == 0) break;
    hash.size += got;
    ok = BCryptHashData(hashing, buffer.data(), got, 0) >= 0;
  }
  unsigned char digest[kDigestSize];
  ok = ok && BCryptFinishHash(hashing, digest, kDigestSize, 0) >= 0;
  if (hashing != nullptr) BCryptDestroyHash(hashing);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  CloseHandle(file);
  if (!ok) {
    if (error.empty()) error = "cannot hash " + name + ": BCrypt failed";
    return std::nullopt;
  }
  char hex[2 * kDigestSize + 1];
  for (ULONG k = 0; k < kDigestSize; ++k) {
    (void)std::snprintf(hex + 2 * k, 3, "%02x", digest[k]);
  }
  hash.sha256 = hex;
  return hash;
}

}  // namespace quillet::cli::plan
