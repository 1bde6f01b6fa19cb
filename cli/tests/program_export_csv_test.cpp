// export-csv: its file, standard output, signals and what it refuses.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "program_fixture.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace quillet::cli::testing;

namespace {

TEST_F(ProgramTest, AScriptIsReloadedAndAQueryExportedToCsv) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER, name VARCHAR(30));\n"
                           "INSERT INTO stock VALUES (1, 'Quill, \"goose\"');\n"
                           "INSERT INTO stock VALUES (2, 'Ink');\n";
  const ProgramRun reload =
      QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM"));
  ASSERT_EQ(reload.status, 0) << reload.err;

  const std::string csv = root_ + "/stock.csv";
  const ProgramRun exported = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id, name FROM stock ORDER BY id", csv},
      WithPassword("SYSADM"));
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(ReadFile(csv), "\"id\",\"name\"\r\n1,\"Quill, \"\"goose\"\"\"\r\n2,\"Ink\"\r\n");

  const ProgramRun badLogin = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock", csv}, WithPassword("wrong"));
  EXPECT_EQ(badLogin.status, 1);
  EXPECT_THAT(badLogin.err, HasSubstr("return code 9121 ("));

  const ProgramRun noFile = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock", root_ + "/no/such/dir/x.csv"},
      WithPassword("SYSADM"));
  EXPECT_EQ(noFile.status, 1);
  EXPECT_EQ(noFile.err, "quillet export-csv: cannot create a file in the folder " + root_ +
                            "/no/such/dir: No such file or directory\n");
}

TEST_F(ProgramTest, AFailedExportLeavesThePreviousFileAndCanKeepItsRows) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER, name VARCHAR(30));\n"
                           "INSERT INTO stock VALUES (1, 'Quill'), (2, 'Ink'), (3, 'Nib');\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  const std::string csv = root_ + "/stock.csv";
  std::ofstream(csv) << "yesterday's rows\n";
  // The third row overflows, after two rows reached the file.
  const std::string failing = "SELECT id, abs(-9223372036854775805 - id) FROM stock";
  const ProgramRun failed =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", failing, csv}, WithPassword("SYSADM"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, HasSubstr("the previous " + csv + " was left as it was"));
  EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  EXPECT_FALSE(std::filesystem::exists(csv + ".partial"));

  const ProgramRun kept = QuilletArguments(
      {"export-csv", "--keep-partial", "DEMO", "SYSADM", failing, csv}, WithPassword("SYSADM"));
  EXPECT_EQ(kept.status, 1);
  EXPECT_THAT(kept.err, HasSubstr("the rows written so far are in " + csv + ".partial"));
  EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  EXPECT_THAT(ReadFile(csv + ".partial"), StartsWith("\"id\","));
  // Nothing else is left behind in the folder: no temporary file.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root_)) ++entries;
  EXPECT_EQ(entries, 4);  // the server folder, the script, the file and its partial rows

  const ProgramRun fine =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock ORDER BY id", csv},
                       WithPassword("SYSADM"));
  EXPECT_EQ(fine.status, 0) << fine.err;
  EXPECT_EQ(ReadFile(csv), "\"id\"\r\n1\r\n2\r\n3\r\n");
}

TEST_F(ProgramTest, AnExportToADashGoesToStandardOutputOnlyWhenItSucceeds) {
  CreateServerWithDatabase();
  const std::string script = root_ + "/stock.sql";
  std::ofstream(script) << "CREATE TABLE stock (id INTEGER);\nINSERT INTO stock VALUES (1), (3);\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  const ProgramRun piped =
      QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT id FROM stock ORDER BY id", "-"},
                       WithPassword("SYSADM"));
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "\"id\"\r\n1\r\n3\r\n");
  const ProgramRun failed = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT id, abs(-9223372036854775805 - id) FROM stock", "-"},
      WithPassword("SYSADM"));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_THAT(failed.err, HasSubstr("nothing was written to standard output"));
}

TEST_F(ProgramTest, AnExportWritesThroughLinksDevicesAndPipesAndKeepsAFilesMode) {
  CreateServerWithDatabase();
  auto exportTo = [&](const std::string& file) {
    return QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 7 AS n", file},
                            WithPassword("SYSADM"));
  };
  // Through a link the file gets the rows; the link stays, and a private file stays private.
  const std::string file = root_ + "/real.csv";
  const std::string link = root_ + "/link.csv";
  std::ofstream(file) << "old\n";
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  std::filesystem::create_symlink("real.csv", link);
  const ProgramRun throughLink = exportTo(link);
  EXPECT_EQ(throughLink.status, 0) << throughLink.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(file), "\"n\"\r\n7\r\n");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);

  // A device is written into, never replaced by a plain file.
  const std::string sink = root_ + "/sink";
  std::filesystem::create_symlink("/dev/null", sink);
  const ProgramRun intoDevice = exportTo(sink);
  EXPECT_EQ(intoDevice.status, 0) << intoDevice.err;
  EXPECT_EQ(std::filesystem::read_symlink(sink), "/dev/null");

  // A named pipe reaches its reader (held open here, so that nothing waits for one).
  const std::string pipe = root_ + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const int reader = open(pipe.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const ProgramRun intoPipe = exportTo(pipe);
  char received[64];
  const ssize_t count = read(reader, received, sizeof received);
  close(reader);
  EXPECT_EQ(intoPipe.status, 0) << intoPipe.err;
  EXPECT_EQ(std::string(received, count > 0 ? static_cast<std::size_t>(count) : 0),
            "\"n\"\r\n7\r\n");
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));

  const ProgramRun intoFolder = exportTo(root_);
  EXPECT_EQ(intoFolder.status, 1);
  EXPECT_EQ(intoFolder.err, "quillet export-csv: " + root_ + " is a directory\n");
}

TEST_F(ProgramTest, AnExportEndedByASignalLeavesNoTemporaryFile) {
  CreateServerWithDatabase();
  const std::string csv = root_ + "/rows.csv";
  std::ofstream(csv) << "yesterday's rows\n";
  // Rows without end: only the signal stops the export.
  const std::string endless =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c";
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  auto hidden = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      const std::string name = entry.path().filename().string();
      std::error_code ignored;
      if (name.rfind(".rows.csv.", 0) == 0 && entry.file_size(ignored) > 0) return true;
    }
    return false;
  };
  for (const int number : {SIGINT, SIGTERM}) {
    const int process =
        StartInBackground(QUILLET_PROGRAM, {"export-csv", "DEMO", "SYSADM", endless, csv},
                          environment, root_ + "/output.txt");
    for (int wait = 0; wait < 200 && !hidden(); ++wait) usleep(50000);
    ASSERT_TRUE(hidden()) << ReadFile(root_ + "/output.txt");
    kill(process, number);
    EXPECT_EQ(WaitFor(process, 20), 128 + number);
    EXPECT_FALSE(hidden());
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root_)) ++entries;
    EXPECT_EQ(entries, 3);  // the server folder, the file and the program's output
    EXPECT_EQ(ReadFile(csv), "yesterday's rows\n");
  }
}

TEST_F(ProgramTest, AnExportRunsQueriesOnlyAndSaysWhichValuesItCut) {
  CreateServerWithDatabase();
  // "a" and 40 two-byte characters: a cut at 50 bytes would end inside the 25th.
  std::string accents;
  for (int k = 0; k < 40; ++k) accents += "\xC3\xA9";
  const std::string script = root_ + "/notes.sql";
  std::ofstream(script) << "CREATE TABLE notes (id INTEGER, body TEXT);\n"
                           "INSERT INTO notes VALUES (1, 'a"
                        << accents << "'), (2, 'short');\n";
  ASSERT_EQ(QuilletArguments({"reload", "DEMO", "SYSADM", script}, WithPassword("SYSADM")).status,
            0);
  auto exportTo = [&](const std::string& statement, const std::string& file) {
    return QuilletArguments({"export-csv", "DEMO", "SYSADM", statement, file},
                            WithPassword("SYSADM"));
  };
  // The server's own statements in any spelling: none of them runs (SYSADM stays).
  for (const char* change :
       {"INSERT INTO notes VALUES (3, 'x')", "DROP TABLE notes", "update statistics on database",
        "/* x */ GRANT CONNECT TO bob IDENTIFIED BY pw", "-- x\nrevoke  connect from SYSADM",
        "lock /* a */ database ;"}) {
    const ProgramRun refused = exportTo(change, "-");
    EXPECT_EQ(refused.status, 1) << change;
    EXPECT_THAT(refused.err, HasSubstr("export-csv takes a query")) << change;
  }
  const std::string csv = root_ + "/notes.csv";
  const ProgramRun rows = exportTo("SELECT id, body FROM notes ORDER BY id", csv);
  EXPECT_EQ(rows.status, 0) << rows.err;
  EXPECT_EQ(ReadFile(csv),
            "\"id\",\"body\"\r\n1,\"a" + accents.substr(0, 48) + "\"\r\n2,\"short\"\r\n");
  EXPECT_EQ(rows.err,
            "quillet export-csv: 1 value was longer than 50 bytes and cut to at most 50, the most "
            "the library takes: 1 in column 2 \"body\"\n");
  // A heading is cut between characters too, and said so, with the column's place: two cut
  // names may be the same.
  const std::string heading = root_ + "/heading.csv";
  const std::string name = "a" + accents.substr(0, 20);
  const ProgramRun cutNames =
      exportTo("SELECT 1 AS \"" + name + "\", 2 AS \"" + name + "x\"", heading);
  EXPECT_EQ(cutNames.status, 0);
  const std::string shown = "a" + accents.substr(0, 16);
  EXPECT_EQ(ReadFile(heading), "\"" + shown + "\",\"" + shown + "\"\r\n1,2\r\n");
  EXPECT_EQ(cutNames.err,
            "quillet export-csv: 2 column names were longer than 18 bytes and cut "
            "to at most 18 in the heading: column 1 \"" +
                shown + "\" (\"" + name + "\"), column 2 \"" + shown + "\" (\"" + name + "x\")\n");
  EXPECT_EQ(QuilletArguments({"export-csv", "-q", "DEMO", "SYSADM", "SELECT body FROM notes", csv},
                             WithPassword("SYSADM"))
                .err,
            "");
}

TEST_F(ProgramTest, AnExportFailsWhenItsReaderWentAwayWithBrokenPipesIgnored) {
  CreateServerWithDatabase();
  // More rows than a pipe holds, to a reader that stops after one byte.
  const ProgramRun run = RunProgram(
      "/bin/sh",
      {"-c", "trap '' PIPE; (\"$0\" \"$@\"; echo \"exit $?\" >&2) | head -c 1 >/dev/null",
       QUILLET_PROGRAM, "export-csv", "DEMO", "SYSADM",
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000) "
       "SELECT x FROM c",
       "-"},
      {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_PASSWORD", "SYSADM"}});
  EXPECT_EQ(run.err,
            "quillet export-csv: could not write to standard output: Broken pipe\nexit 1\n");
}

TEST_F(ProgramTest, TemporaryFilesFitLongNamesAndThoseOfKilledExportsAreRemoved) {
  CreateServerWithDatabase();
  EnvironmentChanges environment = environment_;
  environment["QUILLET_PASSWORD"] = "SYSADM";
  const std::string longName = root_ + "/" + std::string(250, 'n') + ".csv";
  const ProgramRun run = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT 1 AS n", longName}, WithPassword("SYSADM"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(longName), "\"n\"\r\n1\r\n");

  auto hidden = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_)) {
      count += entry.path().filename().string().rfind(".rows.csv.", 0) == 0 ? 1 : 0;
    }
    return count;
  };
  const std::string csv = root_ + "/rows.csv";
  const int process = StartInBackground(
      QUILLET_PROGRAM,
      {"export-csv", "DEMO", "SYSADM",
       "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c", csv},
      environment, root_ + "/output.txt");
  for (int wait = 0; wait < 200 && hidden() == 0; ++wait) usleep(50000);
  ASSERT_EQ(hidden(), 1);
  kill(process, SIGKILL);
  EXPECT_EQ(WaitFor(process, 20), 128 + SIGKILL);
  EXPECT_EQ(hidden(), 1);
  EXPECT_EQ(QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 2 AS n", csv},
                             WithPassword("SYSADM"))
                .status,
            0);
  EXPECT_EQ(hidden(), 0);
}

TEST_F(ProgramTest, AFileInAFolderThatTakesNoNewFileIsWrittenInPlaceAfterSayingSo) {
  CreateServerWithDatabase();
  const std::string folder = root_ + "/locked";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string csv = folder + "/rows.csv";
  std::ofstream(csv) << "old\n";
  const std::string database = folder + "/orders.csv";
  ASSERT_EQ(link((root_ + "/ACME/DEMO.db").c_str(), database.c_str()), 0);
  const std::string before = ReadFile(database);
  // No new file in the folder: for root, which passes over modes, the folder is immutable.
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  const bool root = geteuid() == 0;
  const bool locked =
      root ? ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0 &&
                 (flags |= FS_IMMUTABLE_FL, ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0)
           : chmod(folder.c_str(), 0555) == 0;
  const ProgramRun run = QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 5 AS n", csv},
                                          WithPassword("SYSADM"));
  const ProgramRun linked = QuilletArguments(
      {"export-csv", "DEMO", "SYSADM", "SELECT 5 AS n", database}, WithPassword("SYSADM"));
  if (root) {
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(descriptor, FS_IOC_SETFLAGS, &flags);
  } else {
    chmod(folder.c_str(), 0755);
  }
  close(descriptor);
  if (!locked) GTEST_SKIP() << "this file system cannot refuse new files to this user";
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, StartsWith("quillet export-csv: " + csv +
                                  " is written in place, as its folder takes no temporary "
                                  "file (cannot create a file in the folder " +
                                  folder + ": "));
  EXPECT_EQ(ReadFile(csv), "\"n\"\r\n5\r\n");
  // A second name of a server's database there is never written into.
  EXPECT_EQ(linked.status, 1);
  EXPECT_THAT(linked.err, HasSubstr(database + " has another hard link"));
  EXPECT_EQ(ReadFile(root_ + "/ACME/DEMO.db"), before);
}

TEST_F(ProgramTest, AnExportNeverReplacesAServersFilesAnOpenFileOrWhatAnotherUsersLinkNames) {
  CreateServerWithDatabase();
  auto exportTo = [&](const std::string& file) {
    return QuilletArguments({"export-csv", "DEMO", "SYSADM", "SELECT 7 AS n", file},
                            WithPassword("SYSADM"));
  };
  // Into a server's folder, however it is spelled: refused before anything is written.
  const std::string database = root_ + "/ACME/DEMO.db";
  const std::string before = ReadFile(database);
  // Not a server name, or the root would seem to hold a second server.
  std::filesystem::create_symlink("ACME", root_ + "/acme.link");
  for (const std::string& spelling : {root_ + "/ACME/../ACME/DEMO.db", root_ + "/acme.link/DEMO.db",
                                      root_ + "/acme.link//new.csv"}) {
    const ProgramRun refused = exportTo(spelling);
    EXPECT_EQ(refused.status, 1) << spelling;
    EXPECT_THAT(refused.err, HasSubstr("holds a stand-in server")) << spelling;
  }
  EXPECT_EQ(ReadFile(database), before);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/ACME/new.csv"));

  // /dev/stdout redirected to a file: the file gets the rows, and stays the file it was.
  const std::string redirected = root_ + "/redirected.csv";
  std::ofstream(redirected) << "old\n";
  struct stat opened {};
  ASSERT_EQ(stat(redirected.c_str(), &opened), 0);
  const ProgramRun throughStdout =
      RunProgram("/bin/sh",
                 {"-c", "\"$0\" \"$@\" > " + redirected, QUILLET_PROGRAM, "export-csv", "DEMO",
                  "SYSADM", "SELECT 7 AS n", "/dev/stdout"},
                 {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_PASSWORD", "SYSADM"}});
  EXPECT_EQ(throughStdout.status, 0) << throughStdout.err;
  EXPECT_EQ(ReadFile(redirected), "\"n\"\r\n7\r\n");
  struct stat after {};
  ASSERT_EQ(stat(redirected.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, opened.st_ino);

  // Another user's link in a folder that everyone may write to is not followed.
  if (geteuid() != 0) GTEST_SKIP() << "a link of another user needs root to make";
  const std::string shared = root_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string victim = root_ + "/mine.csv";
  std::ofstream(victim) << "mine\n";
  const std::string trap = shared + "/report.csv";
  std::filesystem::create_symlink(victim, trap);
  ASSERT_EQ(lchown(trap.c_str(), 4242, 4242), 0);
  const ProgramRun followed = exportTo(trap);
  EXPECT_EQ(followed.status, 1);
  EXPECT_THAT(followed.err, HasSubstr(trap + " is a symbolic link of another user"));
  EXPECT_EQ(ReadFile(victim), "mine\n");
}

TEST_F(ProgramTest, AHeldFileIsWrittenThroughItsDescriptorOnlyWhenHeldForWriting) {
  CreateServerWithDatabase();
  auto shell = [&](const std::string& redirection, const std::string& file,
                   const std::string& statement) {
    return RunProgram("/bin/sh",
                      {"-c", "\"$0\" export-csv DEMO SYSADM \"$1\" \"$2\" " + redirection,
                       QUILLET_PROGRAM, statement, file},
                      {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_PASSWORD", "SYSADM"}});
  };
  // >> appends, and a failure adds nothing.
  const std::string appended = root_ + "/app.csv";
  std::ofstream(appended) << "old\n";
  EXPECT_EQ(shell(">> " + appended, "/dev/stdout", "SELECT 7 AS n").status, 0);
  EXPECT_EQ(shell(">> " + appended, "/dev/stdout", "SELECT * FROM nothing").status, 1);
  EXPECT_EQ(ReadFile(appended), "old\n\"n\"\r\n7\r\n");
  // Held only for reading: neither written into nor cut by a failure.
  const std::string read = root_ + "/held.csv";
  std::ofstream(read) << "old\n";
  EXPECT_EQ(shell("3< " + read, read, "SELECT * FROM nothing").status, 1);
  EXPECT_EQ(ReadFile(read), "old\n");
  EXPECT_EQ(shell("< " + read, read, "SELECT 7 AS n").status, 0);
  EXPECT_EQ(ReadFile(read), "\"n\"\r\n7\r\n");
  // A second name of a server's database, held open, is not written through.
  const std::string database = root_ + "/ACME/DEMO.db";
  const std::string linked = root_ + "/orders.csv";
  ASSERT_EQ(link(database.c_str(), linked.c_str()), 0);
  const std::string before = ReadFile(database);
  const ProgramRun refused = shell(">> " + linked, "/dev/stdout", "SELECT 7 AS n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_THAT(refused.err, HasSubstr("has another hard link"));
  EXPECT_EQ(ReadFile(database), before);
  // The caller's own link to no file, in a folder only the caller writes: its file is made.
  const std::string dangling = root_ + "/dangling.csv";
  std::filesystem::create_symlink("made.csv", dangling);
  EXPECT_EQ(shell("", dangling, "SELECT 7 AS n").status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(ReadFile(root_ + "/made.csv"), "\"n\"\r\n7\r\n");
}

TEST_F(ProgramTest, AFullDiskFailsTheExportAndLeavesThePreviousFile) {
  CreateServerWithDatabase();
  // A file system of three inodes, in a namespace of its own: its folder, the file and one
  // more leave no inode for the temporary file.
  const std::string small = root_ + "/small";
  ASSERT_EQ(mkdir(small.c_str(), 0700), 0);
  const ProgramRun run = RunProgram(
      "/usr/bin/unshare",
      {"-rm", "/bin/sh", "-c",
       "mount -t tmpfs -o size=64k,nr_inodes=3 none \"$1\" || exit 99; echo old > \"$1/rows.csv\"; "
       ": > \"$1/other\"; \"$0\" export-csv DEMO SYSADM 'SELECT 1 AS n' \"$1/rows.csv\"; "
       "echo \"exit $?\"; cat \"$1/rows.csv\"",
       QUILLET_PROGRAM, small},
      {{"QUILLET_STANDIN_ROOT", root_}, {"QUILLET_PASSWORD", "SYSADM"}});
  if (run.status != 0) GTEST_SKIP() << "no tmpfs in a namespace of its own here: " << run.err;
  EXPECT_EQ(run.out, "exit 1\nold\n");
  EXPECT_EQ(run.err, "quillet export-csv: cannot create a file in the folder " + small +
                         ": No space left on device\n");
}

}  // namespace
