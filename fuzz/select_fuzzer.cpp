// A select as the client library describes and delivers it: any column count, names of any
// length with a name length that need not match them, any type codes, and values of up to the
// declared length without a terminating NUL, fetched until the input runs out.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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
  return 0;
}
