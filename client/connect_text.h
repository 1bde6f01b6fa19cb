// The "database/user/password" text that opens a cursor connection.
#ifndef QUILLET_CLIENT_CONNECT_TEXT_H
#define QUILLET_CLIENT_CONNECT_TEXT_H

#include <cstddef>

namespace quillet {

// Each connection composes its own text, so connections on different threads never open each
// other's database; the text holds the password, so it is wiped as soon as it has been used.
class ConnectText {
 public:
  static constexpr std::size_t kSize = 128;
  // Database name, user name and password together; the two separators and the NUL fill the
  // rest of kSize.
  static constexpr std::size_t kMaxLoginLength = kSize - 3;

  ConnectText() = default;
  ConnectText(const ConnectText&) = delete;
  ConnectText& operator=(const ConnectText&) = delete;
  ~ConnectText() { Wipe(); }

  // Whether the three texts can be joined: none null, together at most kMaxLoginLength.
  static bool Fits(const char* database, const char* user, const char* password);
  // Joins the texts with "/"; false, composing nothing, when they do not fit.
  bool Compose(const char* database, const char* user, const char* password);
  const char* Text() const { return text_; }
  void Wipe();

 private:
  char text_[kSize] = {};
};

}  // namespace quillet

#endif  // QUILLET_CLIENT_CONNECT_TEXT_H
