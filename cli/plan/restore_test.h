// plan verify --restore-test: a generation opened as a database, as a restore would install it,
// with neither the live database nor the generation written: its database file is copied into
// a private folder under ROOT/.quillet, the copy checked against the manifest and by SQLite's
// integrity check, and removed. Each test made is a line of ROOT/.quillet/restore-tests.jsonl.
#ifndef QUILLET_CLI_PLAN_RESTORE_TEST_H
#define QUILLET_CLI_PLAN_RESTORE_TEST_H

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "generation.h"
#include "manifest.h"

namespace quillet::cli::plan {

struct RestoreTest {
  // False when no test could be made (text says why), which says nothing of the generation.
  bool done = false;
  bool ok = false;
  std::string time;
  // "ok", or what is wrong.
  std::string text;
};

// Tests the database's generation, whose files have just been read against the manifest.
RestoreTest TestRestore(const std::filesystem::path& root, const std::string& database,
                        const Generation& generation, const Manifest& manifest);

// Appends the test as one line: server, database, generation, time, ok and text; empty, or
// why it could not.
std::string RecordRestoreTest(const std::filesystem::path& root, const std::string& server,
                              const std::string& database, const std::string& generation,
                              const RestoreTest& test);

// Removes the copies that tests of processes that have since ended (killed ones) left under
// ROOT/.quillet, if they are this user's alone; one line per folder removed, or not removed
// and why.
std::vector<std::string> RemoveEndedRestoreTests(const std::filesystem::path& root);

// The last test recorded of each generation, by server, database and generation.
using GenerationKey = std::tuple<std::string, std::string, std::string>;
std::map<GenerationKey, RestoreTest> LastRestoreTests(const std::filesystem::path& root);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_RESTORE_TEST_H
