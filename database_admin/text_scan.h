// One pass over a value's text that finds its end and the bytes that need more than a copy.
#ifndef QUILLET_DATABASE_ADMIN_TEXT_SCAN_H
#define QUILLET_DATABASE_ADMIN_TEXT_SCAN_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillet {

struct TextScan {
  std::size_t length;
  bool hasQuote;
  bool hasLineFeed;
  // A comma or a carriage return: looked for only when asked (see ScanText).
  bool hasSeparator;
};

namespace text_scan {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first byte is the lowest");

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// The high bit of each zero byte of the word. A byte above a zero byte may be marked too, so
// only the lowest mark is exact; a mark below the lowest true one never occurs.
inline uint64_t ZeroBytes(uint64_t word) { return (word - kOnes) & ~word & kHighBits; }

inline uint64_t Bytes(char byte) { return kOnes * static_cast<unsigned char>(byte); }

}  // namespace text_scan

// The text must end with a NUL within its `size` bytes. It is read eight bytes at a time, never
// past those bytes: a cell costs one pass rather than a library call for each question. Commas
// and carriage returns matter only for values written bare, so only those scans look for them.
template <bool kFindSeparators = false>
TextScan ScanText(const char* text, std::size_t size) {
  using text_scan::Bytes;
  using text_scan::ZeroBytes;
  TextScan scan{0, false, false, false};
  std::size_t at = 0;
  for (; at + sizeof(uint64_t) <= size; at += sizeof(uint64_t)) {
    uint64_t word;
    std::memcpy(&word, text + at, sizeof word);
    uint64_t quotes = ZeroBytes(word ^ Bytes('"'));
    uint64_t lineFeeds = ZeroBytes(word ^ Bytes('\n'));
    uint64_t separators = 0;
    if (kFindSeparators) {
      separators = ZeroBytes(word ^ Bytes(',')) | ZeroBytes(word ^ Bytes('\r'));
    }
    const uint64_t ends = ZeroBytes(word);
    if (ends != 0) {
      // Only the bytes below the end count; the marks there are all exact.
      const uint64_t below = (ends & (~ends + 1)) - 1;
      quotes &= below;
      lineFeeds &= below;
      separators &= below;
    }
    scan.hasQuote = scan.hasQuote || quotes != 0;
    scan.hasLineFeed = scan.hasLineFeed || lineFeeds != 0;
    scan.hasSeparator = scan.hasSeparator || separators != 0;
    if (ends != 0) {
      scan.length = at + static_cast<std::size_t>(__builtin_ctzll(ends)) / 8;
      return scan;
    }
  }
  for (; at < size && text[at] != '\0'; ++at) {
    scan.hasQuote = scan.hasQuote || text[at] == '"';
    scan.hasLineFeed = scan.hasLineFeed || text[at] == '\n';
    if (kFindSeparators) {
      scan.hasSeparator = scan.hasSeparator || text[at] == ',' || text[at] == '\r';
    }
  }
  scan.length = at;
  return scan;
}

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_TEXT_SCAN_H
