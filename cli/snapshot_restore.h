// Restoring one snapshot folder, what snapshot or all-snapshot wrote, onto a stand-in server:
// the backup is checked, the database it replaces is kept aside until the restored one is
// installed, and any failure puts the old one back, so the server ends with one or the other.
#ifndef QUILLET_CLI_SNAPSHOT_RESTORE_H
#define QUILLET_CLI_SNAPSHOT_RESTORE_H

#include <string>
#include <vector>

#include "subcommand.h"

namespace quillet::cli {

struct RestoreRequest {
  std::string server;
  // The server's password.
  std::string password;
  // The database whose backup the folder holds, as DIRECTORY/DATABASE.db.
  std::string database;
  std::string directory;
  // The name to install it as; empty for DATABASE.
  std::string installAs;
  // An installed database of that name (or its file on the server) is replaced, else refused.
  bool replace = false;
  // Connections on the database being replaced are killed, else the restore is refused while
  // they hold it.
  bool killConnections = false;
};

// The outcome as a job's: code is the library's return code of the call that failed (detail
// its words on that failure, note what became of the old database), problem a refusal before
// anything was changed or a file that could not be written; summary and notice after a
// success. With a client library other than the stand-in it is always refused, naming the
// folder.
JobResult RestoreSnapshotFolder(const RestoreRequest& request);

// The checks restore makes of a backup's database file before anything else: a SQLite
// database, whole by its header's size, not in WAL mode, with no log beside it; a link is
// refused. Empty, or why it is no backup that restore would take. SQLite's own check of its
// pages comes on top.
std::string BackupFileProblem(const std::string& path);

// Whether DIRECTORY/DATABASE.db is a backup restore would take: a whole SQLite file on its own,
// and sound by SQLite's quick check where this build has SQLite. Reads only, through a mapping:
// for a folder of this program's own alone. Empty, or why not; always empty on Windows, which
// restores nothing.
std::string SnapshotFileProblem(const std::string& directory, const std::string& database);

// A database of a stand-in server whose restore was killed before its end, and what became of
// it: the file it replaced is kept aside, and the database may not be installed at all.
struct UnfinishedRestore {
  std::string database;
  std::string text;
  // Among the server's installed databases: killed after its install.
  bool installed = false;
};

// The server's unfinished restores, by name, given its installed databases; none with another
// client library.
std::vector<UnfinishedRestore> UnfinishedRestores(const std::string& server,
                                                  const std::vector<std::string>& installed);

// The stand-in's rule for a database name (1 to 8 letters, digits or _, a letter first): empty,
// or what is wrong with the name, which the restore uses as a file name on the server.
std::string DatabaseNameProblem(const std::string& name);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_SNAPSHOT_RESTORE_H
