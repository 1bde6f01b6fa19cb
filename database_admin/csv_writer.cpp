#include "database_admin/csv_writer.h"

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

CsvWriter::~CsvWriter() { Close(); }

bool CsvWriter::Close() {
  if (file_ == nullptr) return !failed_;
  Flush();
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

void CsvWriter::QuotedDoublingQuotes(const char* text) {
  Put('"');
  for (const char* quote = std::strchr(text, '"'); quote != nullptr;
       quote = std::strchr(text, '"')) {
    // Up to and with the quote, then the quote once more.
    Bare(text, static_cast<std::size_t>(quote - text) + 1);
    Put('"');
    text = quote + 1;
  }
  Bare(text);
  Put('"');
}

void CsvWriter::Bare(const char* text, std::size_t length) {
  const char* const end = text + length;
  for (const void* lineFeed = std::memchr(text, '\n', length); lineFeed != nullptr;
       lineFeed = std::memchr(text, '\n', static_cast<std::size_t>(end - text))) {
    const char* const at = static_cast<const char*>(lineFeed);
    Append(text, static_cast<std::size_t>(at - text));
    LineEnd();
    text = at + 1;
  }
  Append(text, static_cast<std::size_t>(end - text));
}

void CsvWriter::LineEnd() { Append(kLineEnd, sizeof kLineEnd - 1); }

void CsvWriter::Append(const char* bytes, std::size_t length) {
  while (length > kBlockSize - used_) {
    const std::size_t part = kBlockSize - used_;
    std::memcpy(block_ + used_, bytes, part);
    used_ = kBlockSize;
    Flush();
    bytes += part;
    length -= part;
  }
  std::memcpy(block_ + used_, bytes, length);
  used_ += length;
}

void CsvWriter::Flush() {
  // A short write is a failure (a full disk, a cut connection): the bytes that follow it are
  // dropped rather than written after a gap.
  if (!failed_ && used_ > 0 && std::fwrite(block_, 1, used_, file_) != used_) failed_ = true;
  used_ = 0;
}

}  // namespace quillet
