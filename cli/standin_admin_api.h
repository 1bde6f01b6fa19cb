// The stand-in server's admin API, found at run time in the client library that
// libquillet.so loaded. A real client library has none of it, and then the server
// subcommands say so instead of failing to start.
#ifndef QUILLET_CLI_STANDIN_ADMIN_API_H
#define QUILLET_CLI_STANDIN_ADMIN_API_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "standin_admin.h"

namespace quillet::cli {

struct StandinAdminApi {
  decltype(&standin_root) root;
  decltype(&standin_server_create) create;
  decltype(&standin_server_start) start;
  decltype(&standin_server_state) state;
  decltype(&standin_server_list) list;
};

// Null when the loaded client library is not the stand-in.
const StandinAdminApi* FindStandinAdminApi();

// Makes the database jobs of this process use the stand-in server of that name, as the
// stand-in reads it from QUILLET_STANDIN_SERVER; empty, or why it cannot (no stand-in, no
// such server). namedBy: the option or variable that named it, which the messages name.
std::string SelectStandinServer(const std::string& server, const std::string& namedBy);

// What the stand-in tells of the statement on the database without running it: one of the
// STANDIN_STATEMENT_ kinds; nullopt when the client library is not the stand-in.
std::optional<int32_t> StandinStatementKind(const std::string& database,
                                            const std::string& statement);

// Whether the folder, as the system resolves it, is or lies inside a stand-in server's folder,
// where a file written would replace its catalogue or a database; false when the client
// library is not the stand-in.
bool InStandinServerFolder(const std::string& folder);

// The values that the stand-in cut to their bound length in the calling thread's last
// statement: how many, and by column (position, name and count) in column order; and the
// column names it cut to the 18 bytes of a heading.
// The names longer than a heading shows, cut too: by position (from 1), the heading's name
// and the whole name.
struct CutValues {
  struct Column {
    int32_t position;
    std::string heading;
    int64_t count;
  };
  struct Name {
    int32_t position;
    std::string heading;
    std::string whole;
  };
  int64_t total = 0;
  std::vector<Column> columns;
  std::vector<Name> names;
};
// nullopt when the client library is not the stand-in. columns: how many to look at.
std::optional<CutValues> StandinCutValues(int32_t columns);

// The stand-in's text for a return code; null when unknown or when there is no stand-in.
const char* StandinCodeText(int32_t code);

// The stand-in's own words on the calling thread's last failure with this code; null when it
// has none or there is no stand-in.
const char* StandinLastMessage(int32_t code);

// For --version: where the library was loaded from, and which client library it uses.
std::string LibraryDescription();
std::string ClientLibraryDescription();

}  // namespace quillet::cli

#endif  // QUILLET_CLI_STANDIN_ADMIN_API_H
