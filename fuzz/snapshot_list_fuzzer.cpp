// The database list as the client library hands it back, walked by AllSnapShot, which makes a
// directory of each name under its root: whatever the names, nothing is made or deleted
// outside the root, and nothing is left open.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_check.h"

namespace {

// The snapshot root sits in a scratch directory of its own next to one file, so that anything
// made or deleted outside the root shows.
struct Scratch {
  std::filesystem::path outer;
  std::filesystem::path root;
  Scratch() {
    // Memory-backed where there is such a file system: the run makes many directories.
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/quillet-fuzz-XXXXXX";
    outer = mkdtemp(pattern.data());
    root = outer / "root";
    std::filesystem::create_directory(root);
    std::fclose(std::fopen((outer / "keep").c_str(), "w"));
  }
  ~Scratch() { std::filesystem::remove_all(outer); }
};

std::size_t EntriesIn(const std::filesystem::path& path) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(path)) ++count;
  return count;
}

void CheckAllSnapShot(const uint8_t* data, std::size_t size) {
  static Scratch scratch;
  const std::size_t descriptors = EntriesIn("/proc/self/fd");
  fuzz_client::Feed(data, size);
  CheckOutcome(AllSnapShot("srv", "pw", scratch.root.c_str()), QUILLET_ERROR_ARGUMENT);
  FUZZ_CHECK(EntriesIn("/proc/self/fd") == descriptors);
  FUZZ_CHECK(EntriesIn(scratch.outer) == 2 && std::filesystem::exists(scratch.outer / "keep"));
  for (const auto& entry : std::filesystem::directory_iterator(scratch.root)) {
    // One level only: each name is a plain directory name, beside the run's lock file.
    if (entry.path().filename() == ".quillet.lock") {
      FUZZ_CHECK(entry.is_regular_file() && !entry.is_symlink());
    } else {
      FUZZ_CHECK(entry.is_directory() && EntriesIn(entry.path()) == 0);
    }
    std::filesystem::remove(entry.path());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  CheckAllSnapShot(data, size);
  return 0;
}
