#include "restore_subcommand.h"

#include <string>

#include "password_source.h"
#include "snapshot_restore.h"

namespace quillet::cli {
namespace {

std::string CheckRestore(const Invocation& i) {
  // Both become file names in the server's folder.
  if (std::string problem = DatabaseNameProblem(i.arguments[1]); !problem.empty()) {
    return "DATABASE " + problem;
  }
  if (std::string problem = InstallAsProblem(i); !problem.empty()) return problem;
  if (i.killConnections && !i.replace) {
    return "--kill-connections needs --replace: only a database being replaced has "
           "connections to kill";
  }
  return "";
}

std::string AskReplace(const Invocation& i) {
  if (!i.replace) return "";
  const std::string& name = i.installAs.empty() ? i.arguments[1] : i.installAs;
  return "Replace the database " + name + " of server " + i.arguments[0] + " with the backup in " +
         i.arguments[2] + (i.killConnections ? ", killing its connections?" : "?");
}

JobResult Run(const Invocation& i) {
  RestoreRequest request;
  request.server = i.arguments[0];
  request.password = i.password;
  request.database = i.arguments[1];
  request.directory = i.arguments[2];
  request.installAs = i.installAs;
  request.replace = i.replace;
  request.killConnections = i.killConnections;
  JobResult result = RestoreSnapshotFolder(request);
  WipePassword(request.password);
  return result;
}

}  // namespace

std::string InstallAsProblem(const Invocation& i) {
  if (i.installAs.empty()) return "";
  const std::string problem = DatabaseNameProblem(i.installAs);
  return problem.empty() ? "" : "--as NAME " + problem;
}

void AddRestoreTargetOptions(CLI::App& restore, Invocation& given, const std::string& asHelp) {
  restore.add_option("--as", given.installAs, asHelp)->type_name("NAME");
  restore
      .add_flag("--replace", given.replace,
                "replace an installed database of that name, keeping it until the restore has "
                "succeeded")
      ->disable_flag_override();
}

void AddRestoreSubcommand(CommandLine& commandLine) {
  Invocation& given = commandLine.invocation();
  CLI::App& restore = commandLine.Add(
      Subcommand("restore", "SERVER DATABASE DIRECTORY",
                 "restore a snapshot folder onto the server")
          .Describe(
              "Installs the backup of DATABASE that snapshot or all-snapshot wrote into "
              "DIRECTORY (DIRECTORY/DATABASE.db) on the stand-in server SERVER, as DATABASE or "
              "as --as NAME. The backup must be whole: a SQLite file of the size its header "
              "gives, with no log beside it. An installed database of that name, or its file on "
              "the server, is refused unless --replace is given; then it is deinstalled and "
              "kept aside until the restored one is installed, and any failure puts it back and "
              "installs it again. Connections that hold it are named and the restore refused, "
              "unless --kill-connections kills them. The restored database has the one user "
              "SYSADM with the password SYSADM. With --replace it asks first on a terminal, "
              "unless -y is given. With another client library it is refused: restore with the "
              "server's own tooling.")
          .As(Credential::kServer)
          .Runs("DirDB, DeinstallDB, InstallDB", Run)
          .Checks(CheckRestore)
          .Confirms(AskReplace)
          .Shows(Progress::kElapsed)
          .Example("quillet restore ACME STOCK /backups/tonight/STOCK --replace"));
  AddRestoreTargetOptions(restore, given, "install the backup as the database NAME");
  restore
      .add_flag("--kill-connections", given.killConnections,
                "kill the connections that hold the database being replaced")
      ->disable_flag_override();
}

}  // namespace quillet::cli
