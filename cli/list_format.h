// Turns the library's list texts into what a person reads in a terminal.
#ifndef QUILLET_CLI_LIST_FORMAT_H
#define QUILLET_CLI_LIST_FORMAT_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::cli {

// "a;b;" gives the names a and b.
std::vector<std::string> SplitDatabaseList(std::string_view list);

// One name per line; nothing when there are none.
std::string FormatDatabaseList(std::string_view list);

struct ConnectionRow {
  std::string process;
  std::string database;
  std::string user;
  std::string program;
};

// "3:SALES:ADMIN:REPORTS;12:*:Server:BATCH" gives two rows. The program name, the last
// field, keeps any ":" it holds.
std::vector<ConnectionRow> SplitConnectionList(std::string_view list);

// A table with a heading line, its columns aligned, the process numbers to the right; nothing
// when there are no connections.
std::string FormatConnectionTable(std::string_view list);

enum class ListFormat { kTable, kRaw, kJson, kCsv };

// "table", "raw", "json" or "csv"; nullopt for anything else.
std::optional<ListFormat> ParseListFormat(std::string_view name);

// JSON: an array of names. Empty lists give "[]".
std::string DatabaseListJson(std::string_view list);
// JSON: an array of {"process": N, "database": ..., "user": ..., "program": ...}.
std::string ConnectionListJson(std::string_view list);
// CSV with a heading line, fields quoted where they need it, lines ended by CR LF.
std::string DatabaseListCsv(std::string_view list);
std::string ConnectionListCsv(std::string_view list);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_LIST_FORMAT_H
