#include "library_subcommands.h"

#include <array>
#include <filesystem>
#include <iostream>
#include <optional>

#include "command_line.h"
#include "quillet.h"
#include "safe_output.h"

namespace quillet::cli {
namespace {

const char* Argument(const Invocation& invocation, std::size_t index) {
  return invocation.arguments[index].c_str();
}
const char* Password(const Invocation& invocation) { return invocation.password.c_str(); }

JobResult Code(int32_t code) { return {code, "", "", ""}; }

std::string CheckProcessNumber(const Invocation& invocation) {
  return ParseInt32(invocation.arguments[1]) ? "" : "PROCESS must be a whole number";
}

std::string CheckDatabaseOrAll(const Invocation& invocation) {
  const bool named = invocation.arguments.size() == 2;
  if (named == invocation.all) return "expects either DATABASE or --all";
  // An empty name would reach the library as "every database".
  if (named && invocation.arguments[1].empty()) return "DATABASE must not be empty";
  return "";
}

std::string CheckExport(const Invocation& invocation) {
  if (invocation.arguments[3].empty()) return "FILE must not be empty";
  if (invocation.keepPartial && invocation.arguments[3] == kStandardOutput) {
    return "--keep-partial needs a FILE: rows written to standard output cannot be kept";
  }
  return "";
}

// The library writes into a temporary file beside FILE, which replaces FILE only when the
// export succeeded: a failed export never destroys the previous file.
JobResult ExportToFile(const Invocation& i) {
  const std::string& target = i.arguments[3];
  JobResult result;
  std::optional<SafeOutput> output = SafeOutput::Create(target, &result.problem);
  if (!output) return result;
  result.code = ExportCSV(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2),
                          output->TemporaryPath().c_str());
  if (result.code != 0) {
    result.problem = output->Abandon(i.keepPartial);
    if (target == kStandardOutput) {
      result.note = "nothing was written to standard output";
    } else if (result.problem.empty()) {
      result.note =
          std::string(std::filesystem::exists(target)
                          ? "the previous " + target + " was left as it was"
                          : target + " was not created") +
          (i.keepPartial ? "; the rows written so far are in " + target + ".partial" : "");
    }
    // The return code says what failed; a problem keeping the rows is said after it.
    if (!result.problem.empty()) {
      result.note = result.problem;
      result.problem.clear();
    }
    return result;
  }
  result.problem = output->Commit(i.out != nullptr ? *i.out : std::cout);
  return result;
}

constexpr unsigned kPassword = kOptionPasswordFile;

}  // namespace

SubcommandTable LibrarySubcommands() {
  return {
      {"install-db", "SERVER DATABASE", "install an existing database on the server",
       "Installs the database DATABASE on SERVER, making it known to the server again.", 2, 2,
       Credential::kServer, Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) {
         return Code(InstallDB(Argument(i, 0), Password(i), Argument(i, 1)));
       }},
      {"deinstall-db", "SERVER DATABASE", "deinstall a database, keeping its file",
       "Deinstalls the database DATABASE from SERVER: the server forgets it, its file stays.", 2, 2,
       Credential::kServer, Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) {
         return Code(DeinstallDB(Argument(i, 0), Password(i), Argument(i, 1)));
       }},
      {"create-db", "SERVER DATABASE", "create a database",
       "Creates the empty database DATABASE on SERVER and installs it.", 2, 2, Credential::kServer,
       Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) {
         return Code(CreateDB(Argument(i, 0), Password(i), Argument(i, 1)));
       }},
      {"drop-db", "SERVER DATABASE", "drop a database and its file",
       "Drops the database DATABASE of SERVER, removing its file.", 2, 2, Credential::kServer,
       Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) {
         return Code(DropDB(Argument(i, 0), Password(i), Argument(i, 1)));
       }},
      {"terminate-server", "SERVER", "shut the server down",
       "Shuts SERVER down; it refuses connections until it is started again.", 1, 1,
       Credential::kServer, Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) { return Code(TerminateServer(Argument(i, 0), Password(i))); }},
      {"kill-connection", "SERVER PROCESS", "kill one client process",
       "Kills the client process number PROCESS on SERVER (see list-connections).", 2, 2,
       Credential::kServer, Listing::kNone, kPassword, CheckProcessNumber,
       [](const Invocation& i) {
         return Code(KillConnection(Argument(i, 0), Password(i), *ParseInt32(i.arguments[1])));
       }},
      {"dir-db", "SERVER", "list the server's databases",
       "Lists the databases of SERVER, one per line; with --raw, as the library returns them: "
       "each name followed by \";\".",
       1, 1, Credential::kServer, Listing::kDatabases, kPassword | kOptionFormat, nullptr,
       [](const Invocation& i) {
         std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
         const int32_t code = DirDB(Argument(i, 0), Password(i), list.data());
         list.back() = '\0';
         return JobResult{code, list.data(), "", ""};
       }},
      {"snapshot", "SERVER DATABASE DIRECTORY", "back up one database into a directory",
       "Has SERVER write a backup snapshot of DATABASE into DIRECTORY, which must exist; "
       "nothing else in it is touched.",
       3, 3, Credential::kServer, Listing::kNone, kPassword | kOptionFlag, nullptr,
       [](const Invocation& i) {
         return Code(SnapShot(i.flag, Argument(i, 0), Password(i), Argument(i, 1), Argument(i, 2)));
       }},
      {"all-snapshot", "SERVER ROOT", "back up every database, one directory each",
       "Backs up every database of SERVER into ROOT/DATABASE, emptying or creating each "
       "directory first. ROOT must exist. On failures the others are still backed up and the "
       "last failure is reported.",
       2, 2, Credential::kServer, Listing::kNone, kPassword, nullptr,
       [](const Invocation& i) {
         return Code(AllSnapShot(Argument(i, 0), Password(i), Argument(i, 1)));
       }},
      {"list-connections", "SERVER", "list the connected client processes",
       "Lists the client processes connected to SERVER as a table (process, database, user, "
       "program); with --raw, as the library returns them: \"process:database:user:program\" "
       "joined by \";\".",
       1, 1, Credential::kServer, Listing::kConnections, kPassword | kOptionFormat, nullptr,
       [](const Invocation& i) {
         std::array<char, QUILLET_CONNECTION_LIST_SIZE> list{};
         const int32_t code = ListConnections(Argument(i, 0), Password(i), list.data());
         list.back() = '\0';
         return JobResult{code, list.data(), "", ""};
       }},
      {"kill-all-connections", "SERVER [DATABASE]", "kill every process of one or all databases",
       "Kills every client process of SERVER attached to DATABASE (the name compared exactly), "
       "or with --all every client process of the server. Processes already gone do not count "
       "as failures.",
       1, 2, Credential::kServer, Listing::kNone, kPassword | kOptionAll, CheckDatabaseOrAll,
       [](const Invocation& i) {
         return Code(KillAllConnections(Argument(i, 0), Password(i), i.all ? "" : Argument(i, 1)));
       }},
      {"update-stats", "DATABASE USER", "update the optimizer statistics",
       "Runs UPDATE STATISTICS ON DATABASE on DATABASE as USER.", 2, 2, Credential::kDatabaseUser,
       Listing::kNone, kPassword | kOptionServer, nullptr,
       [](const Invocation& i) {
         return Code(UpdateStats(Argument(i, 0), Argument(i, 1), Password(i)));
       }},
      {"release-log", "DATABASE USER", "release the transaction log",
       "Releases the transaction log of DATABASE, connected as USER.", 2, 2,
       Credential::kDatabaseUser, Listing::kNone, kPassword | kOptionServer, nullptr,
       [](const Invocation& i) {
         return Code(ReleaseLog(Argument(i, 0), Argument(i, 1), Password(i)));
       }},
      {"load", "DATABASE USER COMMAND", "run a load command",
       "Runs the load COMMAND (the whole command text, e.g. \"LOAD SQL script.sql\") on "
       "DATABASE as USER and commits when it succeeds.",
       3, 3, Credential::kDatabaseUser, Listing::kNone, kPassword | kOptionServer, nullptr,
       [](const Invocation& i) {
         return Code(Load(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
       }},
      {"unload", "DATABASE USER COMMAND", "run an unload command",
       "Runs the unload COMMAND (the whole command text) on DATABASE as USER.", 3, 3,
       Credential::kDatabaseUser, Listing::kNone, kPassword | kOptionServer, nullptr,
       [](const Invocation& i) {
         return Code(Unload(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
       }},
      {"reload", "DATABASE USER SCRIPT", "load a SQL script under a database lock",
       "Locks DATABASE, loads the SQL script file SCRIPT into it and unlocks it, connected as "
       "USER.",
       3, 3, Credential::kDatabaseUser, Listing::kNone, kPassword | kOptionServer, nullptr,
       [](const Invocation& i) {
         return Code(ReLoad(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
       }},
      {"export-csv", "DATABASE USER STATEMENT FILE", "export a query's rows to a CSV file",
       "Runs the SELECT STATEMENT on DATABASE as USER and writes its rows to FILE as "
       "comma-separated text: a heading line of quoted column names, text quoted, numbers and "
       "dates bare, every line ended by CR LF. Values reach the file as at most 50 bytes. "
       "The rows go to a temporary file beside FILE that replaces FILE only when the export "
       "succeeds, so a failed export leaves a previous FILE as it was. FILE \"-\" writes the "
       "rows to standard output, once the export has succeeded.",
       4, 4, Credential::kDatabaseUser, Listing::kNone,
       kPassword | kOptionServer | kOptionKeepPartial, CheckExport, ExportToFile},
  };
}

}  // namespace quillet::cli
