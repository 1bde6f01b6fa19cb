#include "password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <vector>

namespace standin {
namespace {

constexpr const char* kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kHashSize = 32;
// Bounds on a stored cost, so that a damaged catalogue cannot make a check run for hours.
constexpr long kFewestIterations = 1000;
constexpr long kMostIterations = 10000000;

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0xf]);
  }
  return hex;
}

bool FromHex(const std::string& hex, std::vector<unsigned char>* bytes) {
  if (hex.size() % 2 != 0) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<unsigned char>(high << 4 | low));
  }
  return true;
}

bool Derive(const std::string& password, const unsigned char* salt, std::size_t saltSize,
            long iterations, unsigned char* hash) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                           static_cast<int>(saltSize), static_cast<int>(iterations), EVP_sha256(),
                           static_cast<int>(kHashSize), hash) == 1;
}

struct Parsed {
  long iterations = 0;
  std::vector<unsigned char> salt;
  std::vector<unsigned char> hash;
};

bool Parse(const std::string& stored, Parsed* parsed) {
  const std::string prefix = std::string(kScheme) + "$";
  if (stored.compare(0, prefix.size(), prefix) != 0) return false;
  const std::size_t costEnd = stored.find('$', prefix.size());
  if (costEnd == std::string::npos) return false;
  const std::size_t saltEnd = stored.find('$', costEnd + 1);
  if (saltEnd == std::string::npos) return false;
  const std::string cost = stored.substr(prefix.size(), costEnd - prefix.size());
  char* end = nullptr;
  parsed->iterations = std::strtol(cost.c_str(), &end, 10);
  if (cost.empty() || *end != '\0' || parsed->iterations < kFewestIterations ||
      parsed->iterations > kMostIterations) {
    return false;
  }
  return FromHex(stored.substr(costEnd + 1, saltEnd - costEnd - 1), &parsed->salt) &&
         !parsed->salt.empty() && FromHex(stored.substr(saltEnd + 1), &parsed->hash) &&
         parsed->hash.size() == kHashSize;
}

}  // namespace

std::string HashPassword(const std::string& password) {
  unsigned char salt[kSaltSize];
  unsigned char hash[kHashSize];
  if (RAND_bytes(salt, sizeof salt) != 1 ||
      !Derive(password, salt, sizeof salt, kPasswordIterations, hash)) {
    return "";
  }
  return std::string(kScheme) + "$" + std::to_string(kPasswordIterations) + "$" +
         Hex(salt, sizeof salt) + "$" + Hex(hash, sizeof hash);
}

bool IsPasswordHash(const std::string& stored) {
  Parsed parsed;
  return Parse(stored, &parsed);
}

bool PasswordMatches(const std::string& stored, const std::string& password) {
  Parsed parsed;
  if (!Parse(stored, &parsed)) return false;
  unsigned char hash[kHashSize];
  const bool derived =
      Derive(password, parsed.salt.data(), parsed.salt.size(), parsed.iterations, hash);
  const bool same = derived && CRYPTO_memcmp(hash, parsed.hash.data(), kHashSize) == 0;
  OPENSSL_cleanse(hash, sizeof hash);
  return same;
}

void Wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  text.clear();
}

}  // namespace standin
