// Measuring texts that a host passes, without trusting them to be short.
#ifndef QUILLET_CLIENT_HOST_TEXT_H
#define QUILLET_CLIENT_HOST_TEXT_H

#include <cstddef>

namespace quillet {

// The text's length, counted no further than limit + 1 characters: an overlong text is never
// walked to its end.
inline std::size_t BoundedLength(const char* text, std::size_t limit) {
  std::size_t length = 0;
  while (length <= limit && text[length] != '\0') ++length;
  return length;
}

// Whether the text is there and at most limit characters long.
inline bool FitsLimit(const char* text, std::size_t limit) {
  return text != nullptr && BoundedLength(text, limit) <= limit;
}

}  // namespace quillet

#endif  // QUILLET_CLIENT_HOST_TEXT_H
