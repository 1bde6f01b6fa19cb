// The output file of the CSV export: cells, separators and line ends.
#ifndef QUILLET_DATABASE_ADMIN_CSV_WRITER_H
#define QUILLET_DATABASE_ADMIN_CSV_WRITER_H

#include <cstddef>
#include <cstdio>
#include <cstring>

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

  std::FILE* file_;
  bool failed_ = false;
  std::size_t used_ = 0;
  char block_[kBlockSize];
};

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_CSV_WRITER_H
