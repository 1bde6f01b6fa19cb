#include "database_admin/csv_writer.h"

#include <cstring>

namespace quillet {

namespace {
#if defined(_WIN32)
// Text mode turns each "\n" into CR LF. The "t" keeps it so even if the host has made binary
// the C runtime's default mode.
constexpr char kWriteMode[] = "wt";
constexpr char kLineEnd[] = "\n";
#else
// No text translation here: the CR is written explicitly.
constexpr char kWriteMode[] = "w";
constexpr char kLineEnd[] = "\r\n";
#endif
}  // namespace

CsvWriter::CsvWriter(const char* fileName) : file_(std::fopen(fileName, kWriteMode)) {}

CsvWriter::~CsvWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void CsvWriter::Bare(const char* text) {
  for (const char* lineFeed = std::strchr(text, '\n'); lineFeed != nullptr;
       lineFeed = std::strchr(text, '\n')) {
    std::fwrite(text, 1, static_cast<std::size_t>(lineFeed - text), file_);
    LineEnd();
    text = lineFeed + 1;
  }
  std::fputs(text, file_);
}

void CsvWriter::Quoted(const char* text) {
  std::fputc('"', file_);
  Bare(text);
  std::fputc('"', file_);
}

void CsvWriter::Separator() { std::fputc(',', file_); }

void CsvWriter::LineEnd() { std::fputs(kLineEnd, file_); }

}  // namespace quillet
