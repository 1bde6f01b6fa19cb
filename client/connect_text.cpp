#include "connect_text.h"

#include <cstdio>

#include "host_text.h"

namespace quillet {

bool ConnectText::Fits(const char* database, const char* user, const char* password) {
  if (database == nullptr || user == nullptr || password == nullptr) return false;
  return BoundedLength(database, kMaxLoginLength) + BoundedLength(user, kMaxLoginLength) +
             BoundedLength(password, kMaxLoginLength) <=
         kMaxLoginLength;
}

bool ConnectText::Compose(const char* database, const char* user, const char* password) {
  if (!Fits(database, user, password)) return false;
  (void)std::snprintf(text_, kSize, "%s/%s/%s", database, user, password);  // fits: checked
  return true;
}

void ConnectText::Wipe() {
  // Written through volatile so that the compiler cannot drop the wipe of a dead buffer.
  volatile char* byte = text_;
  for (std::size_t i = 0; i < kSize; ++i) byte[i] = '\0';
}

}  // namespace quillet
