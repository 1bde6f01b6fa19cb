// Passwords at rest: a salted PBKDF2-HMAC-SHA256 hash that names its own cost, so that the
// cost can rise later while older hashes still check.
#ifndef QUILLET_SQLBASE_STANDIN_PASSWORD_HASH_H
#define QUILLET_SQLBASE_STANDIN_PASSWORD_HASH_H

#include <string>

namespace standin {

// Iterations of a new hash, as many as SCRAM logins commonly use: about 2 ms on one core of a
// small build machine, so that a connection, which checks one password, stays within about
// 5 ms.
constexpr int kPasswordIterations = 4096;

// "pbkdf2-sha256$<iterations>$<salt, hex>$<hash, hex>"; empty when no random salt was to be
// had.
std::string HashPassword(const std::string& password);
// Constant-time check of a password against a stored hash; false for anything that is not a
// hash of this form.
bool PasswordMatches(const std::string& stored, const std::string& password);
bool IsPasswordHash(const std::string& stored);
// Overwrites the text in place, so that no copy of a password outlives its check.
void Wipe(std::string& text);

// Wipes a text that holds a password when it goes out of scope, on every way out.
class WipeOnExit {
 public:
  explicit WipeOnExit(std::string& text) : text_(text) {}
  ~WipeOnExit() { Wipe(text_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  std::string& text_;
};

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_PASSWORD_HASH_H
