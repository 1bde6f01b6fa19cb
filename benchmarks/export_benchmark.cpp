// ExportCSV against plain stdio writing the same bytes, over the in-memory client library so
// that only Quillet's own cost is measured; and ListConnections over a full reply. One run per
// process, so that scripts/bench.sh can alternate the two sides of a comparison:
//
//   export_benchmark 5|255 export|stdio FILE [TIMES]
//                                              writes FILE one way, anew TIMES times (1), and
//                                              prints "CPU WALL" seconds a time
//   export_benchmark 5|255 check DIRECTORY     writes both files there, exit 1 when they differ
//   export_benchmark list                      prints "CPU WALL" seconds per ListConnections call
//
// The times cover the writing alone (opening and closing the file included), not building the
// table in memory: the process's processor time, kernel included, and the elapsed time. The
// same source is Quillet.dll's benchmark under Wine, over the in-memory SQLWNTM.dll; Windows
// counts processor time there in 10 ms steps, so the script has each process write its file
// several times.
#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/reply_layouts.h"
#include "in_memory_client/in_memory_client.h"
#include "quillet.h"

namespace {

#if defined(_WIN32)
double ProcessorTime() {
  FILETIME created;
  FILETIME exited;
  FILETIME kernel;
  FILETIME user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& time) {
    return static_cast<double>((uint64_t{time.dwHighDateTime} << 32U) | time.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) * 1e-7;
}
double ElapsedTime() {
  LARGE_INTEGER count;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}
#else
double Now(clockid_t clock) {
  timespec time{};
  clock_gettime(clock, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}
double ProcessorTime() { return Now(CLOCK_PROCESS_CPUTIME_ID); }
double ElapsedTime() { return Now(CLOCK_MONOTONIC); }
#endif

// Processor and elapsed time, summed over the stretches from Start to Stop.
class Stopwatch {
 public:
  void Start() {
    cpu_ -= ProcessorTime();
    wall_ -= ElapsedTime();
  }
  void Stop() {
    cpu_ += ProcessorTime();
    wall_ += ElapsedTime();
  }
  void Print(double per) const { std::printf("%.6f %.6f\n", cpu_ / per, wall_ / per); }

 private:
  double cpu_ = 0;
  double wall_ = 0;
};
using in_memory_client::Column;
using in_memory_client::Value;

// A small deterministic generator, so that every run writes the same bytes.
class Numbers {
 public:
  uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state_ >> 33U);
  }

 private:
  uint64_t state_ = 42;
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[64];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

// The file's bytes for one cell, by the rules of the CSV file, written out independently.
std::string Cell(int32_t type, const std::string& value) {
  const bool text = type == 1 || type == 4;
  if (!text && (type < 2 || type > 6)) return "";
  // Bare types are quoted too when a value would otherwise split its cell or its line.
  const bool quoted = text || value.find_first_of(",\"\r\n") != std::string::npos;
  std::string cell = quoted ? "\"" : "";
  for (const char byte : value) {
    if (byte == '\n') {
      cell += "\r\n";
    } else {
      cell += byte;
      if (quoted && byte == '"') cell += '"';
    }
  }
  if (quoted) cell += '"';
  return cell;
}

#if defined(_WIN32)
constexpr char kTextMode[] = "wt";
std::string InTextMode(const std::string& bytes) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    if (bytes.compare(at, 2, "\r\n") != 0) text += bytes[at];
  }
  return text;
}
#else
constexpr char kTextMode[] = "w";
std::string InTextMode(const std::string& bytes) { return bytes; }
#endif

// A table served by the in-memory client: pattern rows repeated up to the row count, and the
// bytes ExportCSV must write for it.
struct Table {
  const char* title;
  int64_t rows;
  std::vector<std::string> names;
  std::vector<Column> columns;
  std::vector<std::string> texts;  // pattern rows, columns.size() values to a row
  std::vector<Value> values;
  // The file's bytes: the heading and one line per pattern row.
  std::string heading;
  std::vector<std::string> lines;
  // What stdio is handed for them: the same, but on Windows, whose text mode writes each LF as
  // CR LF as it does for the export, with LF for CR LF.
  std::string textHeading;
  std::vector<std::string> textLines;

  void Finish() {
    for (std::size_t i = 0; i < names.size(); ++i) columns[i].name = names[i].c_str();
    for (const std::string& text : texts) values.push_back({text.data(), text.size()});
    const std::size_t width = columns.size();
    for (std::size_t i = 0; i < width; ++i) {
      heading += Cell(1, names[i]) + (i + 1 == width ? "\r\n" : ",");
    }
    for (std::size_t row = 0; row < texts.size() / width; ++row) {
      std::string line;
      for (std::size_t i = 0; i < width; ++i) {
        line += Cell(columns[i].type, texts[row * width + i]) + (i + 1 == width ? "\r\n" : ",");
      }
      lines.push_back(line);
      textLines.push_back(InTextMode(line));
    }
    textHeading = InTextMode(heading);
  }
  double Megabytes() const {
    double bytes = static_cast<double>(heading.size());
    for (int64_t row = 0; row < rows; ++row) {
      bytes += static_cast<double>(lines[static_cast<std::size_t>(row) % lines.size()].size());
    }
    return bytes / 1e6;
  }
};

// Five columns of about 20 bytes: quoted names and addresses (some with quotes, commas or a
// line feed), bare numbers, a date and a decimal.
Table FiveColumns() {
  Table table;
  table.title = "5 columns";
  table.rows = 1000000;
  table.names = {"NAME", "ACCOUNT", "ADDRESS", "OPENED", "BALANCE"};
  table.columns = {{1, nullptr}, {2, nullptr}, {4, nullptr}, {5, nullptr}, {3, nullptr}};
  Numbers numbers;
  for (int row = 0; row < 1000; ++row) {
    const uint32_t n = numbers.Next();
    table.texts.push_back(row % 7 == 0 ? Format("Customer \"%05u\" Ltd", n % 100000)
                                       : Format("Customer %06u & Sons", n % 1000000));
    table.texts.push_back(Format("%" PRIu64, (uint64_t{numbers.Next()} << 28U) + n));
    table.texts.push_back(row % 100 == 0 ? Format("%u Long Road\nTown", n % 1000)
                                         : Format("%u High Street, Town", n % 1000));
    table.texts.push_back(Format("2026-%02u-%02u %02u:%02u:%02u", n % 12 + 1, n % 28 + 1, n % 24,
                                 n % 60, (n >> 8U) % 60));
    table.texts.push_back(
        Format("%d.%06u", static_cast<int>(n % 2000000) - 1000000, numbers.Next() % 1000000));
  }
  table.Finish();
  return table;
}

// Every column the export can take, of every type code, with short values.
Table TwoHundredFiftyFiveColumns() {
  Table table;
  table.title = "255 columns";
  table.rows = 20000;
  Numbers numbers;
  for (int column = 0; column < 255; ++column) {
    table.names.push_back(Format("COLUMN_%03d", column + 1));
    table.columns.push_back({column % 6 + 1, nullptr});
  }
  for (int row = 0; row < 50; ++row) {
    for (int column = 0; column < 255; ++column) {
      const uint32_t n = numbers.Next();
      switch (column % 6 + 1) {
        case 1:
        case 4:
          table.texts.push_back(n % 9 == 0 ? Format("say \"%u\"", n % 1000)
                                           : Format("text %u", n % 100000));
          break;
        default:
          table.texts.push_back(Format("%u", n));
          break;
      }
    }
  }
  table.Finish();
  return table;
}

bool WriteWithStdio(const Table& table, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), kTextMode);
  if (file == nullptr) return false;
  std::fwrite(table.textHeading.data(), 1, table.textHeading.size(), file);
  std::size_t pattern = 0;
  for (int64_t row = 0; row < table.rows; ++row) {
    const std::string& line = table.textLines[pattern];
    std::fwrite(line.data(), 1, line.size(), file);
    if (++pattern == table.lines.size()) pattern = 0;
  }
  return std::fclose(file) == 0;
}

void Serve(const Table& table) {
  in_memory_client::ServeRows(table.columns.data(), static_cast<int32_t>(table.columns.size()),
                              table.values.data(), static_cast<int32_t>(table.lines.size()),
                              table.rows);
}

bool Export(const std::string& path) {
  return ExportCSV("db", "usr", "pw", "SELECT", path.c_str()) == 0;
}

bool SameBytes(const std::string& first, const std::string& second) {
  std::FILE* a = std::fopen(first.c_str(), "rb");
  std::FILE* b = std::fopen(second.c_str(), "rb");
  bool same = a != nullptr && b != nullptr;
  static char blockA[1 << 16];
  static char blockB[1 << 16];
  while (same) {
    const std::size_t readA = std::fread(blockA, 1, sizeof blockA, a);
    const std::size_t readB = std::fread(blockB, 1, sizeof blockB, b);
    same = readA == readB && std::memcmp(blockA, blockB, readA) == 0;
    if (readA == 0) break;
  }
  if (a != nullptr) std::fclose(a);
  if (b != nullptr) std::fclose(b);
  return same;
}

int Check(const Table& table, const std::string& directory) {
  const std::string stdioPath = directory + "/stdio.csv";
  const std::string exportPath = directory + "/export.csv";
  Serve(table);
  const bool written = WriteWithStdio(table, stdioPath) && Export(exportPath);
  const bool same = written && SameBytes(stdioPath, exportPath);
  std::printf("%s, %" PRId64 " rows, %.1f MB: %s\n", table.title, table.rows, table.Megabytes(),
              !written ? "could not write the files"
              : same   ? "ExportCSV wrote the expected bytes"
                       : "ExportCSV wrote other bytes than expected");
  std::remove(stdioPath.c_str());
  std::remove(exportPath.c_str());
  return same ? 0 : 1;
}

// The reply to the request for the active cursors (client/reply_layouts.h).
std::string ActiveCursorsReply(int records) {
  namespace layout = sqlwntm::active_cursors;
  const auto count = static_cast<std::size_t>(records);
  std::vector<unsigned char> reply(layout::RecordOffset(count), 0);
  layout::WriteCount(reply.data(), count);
  Numbers numbers;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* record = reply.data() + layout::RecordOffset(i);
    const uint32_t n = numbers.Next();
    record[layout::kProcessOffset] = static_cast<unsigned char>(n % 256);
    const std::string user = Format("USER%u", n % 100);
    const std::string database = Format("DATABASE%u", n % 20);
    const std::string program =
        n % 50 == 0 ? layout::kServerProgram : Format("program-%u.exe", n % 1000);
    layout::WriteText(record + layout::kUserOffset, layout::kUserSize, user.data(), user.size());
    layout::WriteText(record + layout::kDatabaseOffset, layout::kDatabaseSize, database.data(),
                      database.size());
    layout::WriteText(record + layout::kProgramOffset, layout::kProgramSize, program.data(),
                      program.size());
  }
  return std::string(reply.begin(), reply.end());
}

// 500 records of every process number, many of them repeated, some the server's own.
int ListConnectionsBenchmark() {
  const std::string reply = ActiveCursorsReply(500);
  in_memory_client::ServeActiveCursors(reply.data(), reply.size());
  static char list[QUILLET_CONNECTION_LIST_SIZE];
  constexpr int kCalls = 2000;
  Stopwatch stopwatch;
  stopwatch.Start();
  for (int call = 0; call < kCalls; ++call) {
    if (ListConnections("server", "pw", list) != 0) return 1;
  }
  stopwatch.Stop();
  stopwatch.Print(kCalls);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: export_benchmark 5|255 export|stdio FILE [TIMES]\n"
               "       export_benchmark 5|255 check DIRECTORY\n"
               "       export_benchmark list\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  if (which == "list" && argc == 2) return ListConnectionsBenchmark();
  if ((which != "5" && which != "255") || argc < 4 || argc > 5) return Usage();
  const Table table = which == "5" ? FiveColumns() : TwoHundredFiftyFiveColumns();
  const std::string side = argv[2];
  const std::string path = argv[3];
  if (side == "check") return Check(table, path);
  const int times = argc == 5 ? std::atoi(argv[4]) : 1;
  if ((side != "export" && side != "stdio") || times < 1) return Usage();
  Serve(table);
  Stopwatch stopwatch;
  for (int time = 0; time < times; ++time) {
    // Each time the file is made anew, as a process of its own would make it.
    std::remove(path.c_str());
    stopwatch.Start();
    if (!(side == "export" ? Export(path) : WriteWithStdio(table, path))) {
      std::fprintf(stderr, "export_benchmark: could not write %s\n", path.c_str());
      return 1;
    }
    stopwatch.Stop();
  }
  stopwatch.Print(times);
  return 0;
}
