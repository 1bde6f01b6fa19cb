// The CSV export: the result of one SELECT statement written to a comma-separated file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "client/connect_text.h"
#include "client/connected_job.h"
#include "database_admin/csv_writer.h"
#include "database_admin/jobs.h"
#include "database_admin/text_scan.h"
#include "quillet.h"

namespace quillet {
namespace {

// The columns one export can take: the type table and the value area have one entry each.
constexpr int32_t kMaxColumns = 255;
// Each column's value slot. Values are bound with a declared length of 50, so the rest of the
// slot stays zero and leaves room for the quotes doubled in place.
constexpr std::size_t kSlotSize = 255;
constexpr int32_t kDeclaredValueLength = 50;
// The fetch code that marks the end of the rows rather than a failure.
constexpr int16_t kEndOfRows = 1;

using ValueSlot = char[kSlotSize];

// About 66 KB, on the calling thread's stack like every export's working storage, and 16 KB
// more for the file's block in CsvWriter. That stays far inside the stacks hosts run on: 1 MB
// reserved for a Windows thread unless its creator asks for less, 8 MB for glibc threads.
// MinGW and GCC probe frames this large page by page, so the stack grows through its guard
// page and never skips it.
struct WorkingStorage {
  int32_t types[kMaxColumns];
  ValueSlot values[kMaxColumns];
  char columnName[kColumnNameSize];
};

// Doubles each double quote of the slot's text of the given length in place, within the slot,
// and returns the new length. A slot's last byte always ends the text; should a text of more
// than 50 bytes leave no room for a quote's copy, the text gives up its last byte, or ends
// before the quote when that quote is its last byte.
std::size_t DoubleQuotes(ValueSlot& slot, std::size_t length) {
  constexpr std::size_t kMaxLength = kSlotSize - 1;
  std::size_t i = 0;
  while (i < length) {
    const void* quote = std::memchr(slot + i, '"', length - i);
    if (quote == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(quote) - slot);
    if (length == kMaxLength) {
      slot[--length] = '\0';
      if (i == length) break;
    }
    std::memmove(slot + i + 1, slot + i, length - i);
    slot[++length] = '\0';
    i += 2;  // past the quote and its copy, so that the copy is not doubled again
  }
  return length;
}

// A fetch that keeps to the declared length stores at most that many bytes and a zero.
constexpr std::size_t kFetchExtent = static_cast<std::size_t>(kDeclaredValueLength) + 1;

// How much of the slot the fetch can have written: a longer text means it ignored the declared
// length and may have written anywhere in the slot.
std::size_t FetchedExtent(const TextScan& scan) {
  return scan.length < kFetchExtent ? kFetchExtent : kSlotSize;
}

// Writes the cell of one value, by the column's type code (unknown codes give an empty cell),
// and returns how many bytes from the slot's start this row can have left non-zero. A value of
// a bare type goes between quotes too when a comma, quote, CR or LF in it would otherwise end
// its cell or its line.
std::size_t WriteCell(CsvWriter& csv, int32_t type, ValueSlot& slot) {
  static_assert(CsvWriter::kPlainCellExtent < kSlotSize, "read within the slot");
  TextScan scan{};
  switch (type) {
    case 1:
    case 4: {
      const std::size_t plain = csv.CellAsItStands<true>(slot);
      if (plain != CsvWriter::kNotPlain) return plain < kFetchExtent ? kFetchExtent : kSlotSize;
      slot[kSlotSize - 1] = '\0';
      scan = ScanText(slot, kSlotSize);
      break;
    }
    case 2:
    case 3:
    case 5:
    case 6: {
      const std::size_t plain = csv.CellAsItStands<false>(slot);
      if (plain != CsvWriter::kNotPlain) return plain < kFetchExtent ? kFetchExtent : kSlotSize;
      slot[kSlotSize - 1] = '\0';
      scan = ScanText<true>(slot, kSlotSize);
      if (!scan.hasQuote && !scan.hasLineFeed && !scan.hasSeparator) {
        csv.Bare(slot, scan);
        return FetchedExtent(scan);
      }
      break;
    }
    default:
      slot[kSlotSize - 1] = '\0';
      return FetchedExtent(ScanText(slot, kSlotSize));
  }
  const std::size_t fetched = FetchedExtent(scan);
  if (scan.hasQuote) scan.length = DoubleQuotes(slot, scan.length);
  csv.Quoted(slot, scan);
  return scan.length < fetched ? fetched : scan.length + 1;
}

// Clears the bytes of the slot that the row touched; the usual count as a constant, so that
// this is a few stores rather than a library call.
void ClearSlot(ValueSlot& slot, std::size_t touched) {
  if (touched == kFetchExtent) {
    std::memset(slot, 0, kFetchExtent);
  } else {
    std::memset(slot, 0, touched);
  }
}

void EndCell(CsvWriter& csv, int32_t column, int32_t columns) {
  if (column == columns) {
    csv.LineEnd();
  } else {
    csv.Separator();
  }
}

// Everything after a successful statement: heading, binding, the second run and the rows. A
// failing step's code is the result, a later failure replacing an earlier one.
int32_t WriteResult(CursorConnection& connection, CsvWriter& csv) {
  WorkingStorage storage;
  int32_t columns = 0;
  if (!connection.GetNoSelectItems(&columns)) return connection.ReturnCode();
  if (columns > kMaxColumns) return QUILLET_ERROR_TOO_MANY_COLUMNS;

  int32_t result = 0;
  for (int32_t column = 1; column <= columns; ++column) {
    const std::size_t index = static_cast<std::size_t>(column - 1);
    int32_t length = 0;
    // A column that cannot be described gets an empty name rather than whatever is left over.
    if (!connection.DescribeSelectItem(column, &storage.types[index], &length,
                                       storage.columnName)) {
      storage.columnName[0] = '\0';
    }
    csv.QuotedDoublingQuotes(storage.columnName);
    EndCell(csv, column, columns);
    if (!connection.SelectBuffer(column, storage.values[index], kDeclaredValueLength)) {
      result = connection.ReturnCode();
    }
  }
  // A file that could not take the heading gets no rows either.
  if (csv.Failed()) return QUILLET_ERROR_FILE_WRITE;
  if (!connection.Execute()) return connection.ReturnCode();

  // The value area is all zero before every fetch, so that no byte of one row's value can
  // show in a later row. After the first clearing only the bytes a row touched need it again.
  std::memset(storage.values, 0, sizeof storage.values);
  // The rows stop at the first failed write: no row is fetched that could not be kept.
  while (!csv.Failed() && connection.Next()) {
    for (int32_t column = 1; column <= columns; ++column) {
      const std::size_t index = static_cast<std::size_t>(column - 1);
      ValueSlot& slot = storage.values[index];
      ClearSlot(slot, WriteCell(csv, storage.types[index], slot));
      EndCell(csv, column, columns);
    }
  }
  if (csv.Failed()) return QUILLET_ERROR_FILE_WRITE;
  if (connection.ReturnCode() != kEndOfRows) result = connection.ReturnCode();
  return result;
}

// The statement runs twice: once to learn its columns, once more after they are bound.
int32_t Export(CursorConnection& connection, const char* statement, CsvWriter& csv) {
  if (!connection.CompileAndExecute(statement)) return connection.ReturnCode();
  const int32_t result = WriteResult(connection, csv);
  connection.Commit();
  return result;
}

}  // namespace

// The arguments are checked before the file is opened, so a refused call leaves an existing
// file as it was. The file is closed after the connection, on every path; a file that did not
// take every byte it was given is the result, whatever else happened, since the host must not
// take it for a whole export.
int32_t ExportCSV(const char* database, const char* user, const char* password,
                  const char* statement, const char* output_file) {
  if (!ConnectText::Fits(database, user, password) || output_file == nullptr) {
    return QUILLET_ERROR_ARGUMENT;
  }
  CsvWriter csv(output_file);
  if (!csv.IsOpen()) return QUILLET_ERROR_FILE;
  const int32_t result = RunCursorJob(
      database, user, password, kDefaultConnectMode,
      [&](CursorConnection& connection) { return Export(connection, statement, csv); });
  return csv.Close() ? result : QUILLET_ERROR_FILE_WRITE;
}

}  // namespace quillet
