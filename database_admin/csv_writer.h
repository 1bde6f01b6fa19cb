// The output file of the CSV export: cells, separators and line ends.
#ifndef QUILLET_DATABASE_ADMIN_CSV_WRITER_H
#define QUILLET_DATABASE_ADMIN_CSV_WRITER_H

#include <cstddef>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "database_admin/text_scan.h"

namespace quillet {

// Every line feed reaches the disk as CR LF, at the line ends and inside names and values
// alike, so the file's bytes are the same on every platform. After a failed write nothing more
// is written, so that the file never holds a gap; Failed() and Close() report it.
class CsvWriter {
 public:
  // Creates the file, or truncates it when it exists.
  explicit CsvWriter(const char* fileName);
  // Closes the file if Close() has not.
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Whether a write has failed: the file then lacks bytes it was given.
  bool Failed() const { return failed_; }
  // Hands the collected bytes on and closes the file; false when a write or the close failed.
  bool Close();

  // The text as it is, apart from its line feeds.
  void Bare(const char* text, std::size_t length);
  void Bare(const char* text) { Bare(text, std::strlen(text)); }
  // A scanned text: only one with a line feed needs more than a copy.
  void Bare(const char* text, const TextScan& scan) {
    if (scan.hasLineFeed) {
      Bare(text, scan.length);
    } else {
      Append(text, scan.length);
    }
  }
  // The text between double quotes, each quote in it doubled: for names, which are not
  // doubled in place.
  void QuotedDoublingQuotes(const char* text);
  // The text between double quotes; quotes inside it are written as they stand, so a caller
  // has doubled them.
  void Quoted(const char* text, const TextScan& scan) {
    Put('"');
    Bare(text, scan);
    Put('"');
  }
  void Separator() { Put(','); }
  void LineEnd();

  // The widest text CellAsItStands takes: a value the client library kept to its declared
  // length fits, and the text is read no further than this.
  static constexpr std::size_t kPlainCellExtent = 64;
  // Writes the NUL-ended text that starts `text` (whose first kPlainCellExtent bytes must be
  // readable) as one cell, between double quotes when kQuoted, and returns its length, when it
  // ends within kPlainCellExtent bytes, holds no line feed, and when bare no double quote,
  // comma or CR, and the block has room for the widest such cell. Between quotes each double
  // quote is written twice (with vector instructions; without them such a text is left to the
  // caller). Otherwise it writes nothing and returns kNotPlain, and the caller takes the
  // general way. A cell is most of the export's work, so this is one pass that copies as it
  // looks, sixteen bytes at a time where the processor has the instructions for it.
  static constexpr std::size_t kNotPlain = static_cast<std::size_t>(-1);
  template <bool kQuoted>
  std::size_t CellAsItStands(const char* text);

 private:
  // Bytes collect here and reach the stream a block at a time: one library call per block of
  // rows rather than several per cell. A block four times the usual stream buffer also makes
  // the stream hand the system a quarter of the writes.
  static constexpr std::size_t kBlockSize = 16384;

  void Put(char byte) {
    if (used_ == kBlockSize) Flush();
    block_[used_++] = byte;
  }
  void Append(const char* bytes, std::size_t length);
  void Flush();

  // The rest of CellAsItStands<true> for a text with a quote or line feed at `from`, the bytes
  // before it stored already: the quotes are doubled as the text is copied. A line feed, or no
  // end within kPlainCellExtent bytes, gives kNotPlain.
  std::size_t QuotedDoublingFrom(const char* text, std::size_t from) {
    if (kBlockSize - used_ < 2 * kPlainCellExtent + 2) return kNotPlain;
    char* out = block_ + used_ + 1 + from;
    for (std::size_t at = from; at < kPlainCellExtent; ++at) {
      const char byte = text[at];
      if (byte == '\0') {
        block_[used_] = '"';
        *out++ = '"';
        used_ = static_cast<std::size_t>(out - block_);
        return at;
      }
      if (byte == '\n') return kNotPlain;
      if (byte == '"') *out++ = '"';
      *out++ = byte;
    }
    return kNotPlain;
  }

  // Whether the widest plain cell fits the block as it stands: the text and its two quotes. The
  // block is handed on only when full, so a cell near its end takes the slower way.
  bool HasRoomForCell() const { return kBlockSize - used_ >= kPlainCellExtent + 2; }

  std::FILE* file_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char block_[kBlockSize];
};

#if defined(__SSE2__)
template <bool kQuoted>
std::size_t CsvWriter::CellAsItStands(const char* text) {
  if (!HasRoomForCell()) return kNotPlain;
  char* const start = block_ + used_;
  char* const out = kQuoted ? start + 1 : start;
  const __m128i ends = _mm_setzero_si128();
  const __m128i quotes = _mm_set1_epi8('"');
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i commas = _mm_set1_epi8(',');
  const __m128i returns = _mm_set1_epi8('\r');
  for (std::size_t at = 0; at < kPlainCellExtent; at += sizeof(__m128i)) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    // Stored before it is known whether they are wanted: a text that is not plain leaves
    // used_ where it was, so they are overwritten later.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), bytes);
    __m128i special =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, ends),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, lineFeeds)));
    if (!kQuoted) {
      special = _mm_or_si128(
          special, _mm_or_si128(_mm_cmpeq_epi8(bytes, commas), _mm_cmpeq_epi8(bytes, returns)));
    }
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (marks == 0) continue;
    const std::size_t length = at + static_cast<std::size_t>(__builtin_ctz(marks));
    if (text[length] != '\0') return kQuoted ? QuotedDoublingFrom(text, length) : kNotPlain;
    if (kQuoted) {
      start[0] = '"';
      out[length] = '"';
    }
    used_ += length + (kQuoted ? 2 : 0);
    return length;
  }
  return kNotPlain;
}
#else
// Without vector instructions: one scan, then a copy.
template <bool kQuoted>
std::size_t CsvWriter::CellAsItStands(const char* text) {
  const TextScan scan = ScanText<!kQuoted>(text, kPlainCellExtent);
  if (scan.length == kPlainCellExtent || scan.hasQuote || scan.hasLineFeed || scan.hasSeparator) {
    return kNotPlain;
  }
  if (!HasRoomForCell()) return kNotPlain;
  if (kQuoted) block_[used_++] = '"';
  std::memcpy(block_ + used_, text, scan.length);
  used_ += scan.length;
  if (kQuoted) block_[used_++] = '"';
  return scan.length;
}
#endif

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_CSV_WRITER_H
