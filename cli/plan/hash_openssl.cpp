#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "hash.h"

namespace quillet::cli::plan {
namespace {

// Large enough that the system calls cost nothing beside the hashing.
constexpr std::size_t kReadSize = 1 << 20;

std::string Hex(const unsigned char* bytes, unsigned length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned k = 0; k < length; ++k) {
    text += kDigits[bytes[k] >> 4];
    text += kDigits[bytes[k] & 0xF];
  }
  return text;
}

}  // namespace

std::optional<FileHash> HashFile(const std::filesystem::path& path, std::string& error) {
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (file < 0) {
    error = "cannot read " + path.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        EVP_MD_CTX_free);
  FileHash hash;
  bool ok = context != nullptr && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
  (void)posix_fadvise(file, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<unsigned char> buffer(kReadSize);
  while (ok) {
    const ssize_t got = read(file, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "cannot read " + path.string() + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    if (got == 0) break;
    hash.size += static_cast<uint64_t>(got);
    ok = EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got)) == 1;
  }
  close(file);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (ok && EVP_DigestFinal_ex(context.get(), digest, &length) == 1) {
    hash.sha256 = Hex(digest, length);
    return hash;
  }
  if (error.empty()) error = "cannot hash " + path.string() + ": OpenSSL failed";
  return std::nullopt;
}

}  // namespace quillet::cli::plan
