// A select as the client library describes and delivers it: any column count, names of any
// length with a name length that need not match them, any type codes, and values of up to the
// declared length without a terminating NUL, fetched until the input runs out.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"

namespace {

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// The export file, in memory where there is a memory-backed file system.
struct ExportFile {
  std::string path;
  ExportFile() {
    path = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path += "/quillet-fuzz-" + std::to_string(getpid()) + ".csv";
  }
  ~ExportFile() { std::remove(path.c_str()); }
};

// The file read as a strict CSV reader reads it (records end with CR LF, a quoted field doubles
// its quotes, a bare field holds no quote, comma, CR or LF): the number of fields of each
// record, or nothing when the file does not parse.
bool CountFields(const std::string& bytes, std::vector<std::size_t>& counts) {
  std::size_t i = 0;
  std::size_t fields = 1;
  while (i < bytes.size()) {
    if (bytes[i] == '"') {
      for (++i;; ++i) {
        if (i >= bytes.size()) return false;
        if (bytes[i] != '"') continue;
        if (i + 1 < bytes.size() && bytes[i + 1] == '"') {
          ++i;
          continue;
        }
        ++i;
        break;
      }
    } else {
      while (i < bytes.size() && bytes[i] != ',' && bytes[i] != '\r') {
        if (bytes[i] == '"' || bytes[i] == '\n') return false;
        ++i;
      }
    }
    if (i >= bytes.size()) return false;  // every record ends with CR LF
    if (bytes[i] == ',') {
      ++fields;
      ++i;
    } else if (bytes.compare(i, 2, "\r\n") == 0) {
      counts.push_back(fields);
      fields = 1;
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static ExportFile file;
  const std::size_t descriptors = OpenDescriptors();
  fuzz_client::Feed(data, size);
  const int32_t result = ExportCSV("db", "user", "pw", "SELECT * FROM t", file.path.c_str());
  CheckOutcome(result, QUILLET_ERROR_TOO_MANY_COLUMNS);
  FUZZ_CHECK(OpenDescriptors() == descriptors);

  // Whole lines only, each ended by CR LF, and every line feed stored as CR LF.
  std::ifstream in(file.path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FUZZ_CHECK(bytes.empty() ||
             (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') FUZZ_CHECK(i > 0 && bytes[i - 1] == '\r');
  }
  // Whatever the names and values hold, every row has as many fields as the heading.
  std::vector<std::size_t> fields;
  FUZZ_CHECK(CountFields(bytes, fields));
  for (const std::size_t count : fields) FUZZ_CHECK(count == fields.front());
  return 0;
}
