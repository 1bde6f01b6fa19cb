// The output file of the CSV export: cells, separators and line ends.
#ifndef QUILLET_DATABASE_ADMIN_CSV_WRITER_H
#define QUILLET_DATABASE_ADMIN_CSV_WRITER_H

#include <cstdio>

namespace quillet {

// Every line feed reaches the disk as CR LF, at the line ends and inside names and values
// alike, so the file's bytes are the same on every platform. Write and close failures are not
// reported: the export's result never depends on them.
class CsvWriter {
 public:
  // Creates the file, or truncates it when it exists.
  explicit CsvWriter(const char* fileName);
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  bool IsOpen() const { return file_ != nullptr; }

  // The text as it is, apart from its line feeds.
  void Bare(const char* text);
  // The text between double quotes; quotes inside it are written as they stand.
  void Quoted(const char* text);
  void Separator();
  void LineEnd();

 private:
  std::FILE* file_;
};

}  // namespace quillet

#endif  // QUILLET_DATABASE_ADMIN_CSV_WRITER_H
