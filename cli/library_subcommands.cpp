#include "library_subcommands.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "password_source.h"
#include "progress.h"
#include "quillet.h"
#include "safe_output.h"
#include "standin_admin_api.h"

namespace quillet::cli {
namespace {

const char* Argument(const Invocation& invocation, std::size_t index) {
  return invocation.arguments[index].c_str();
}
const char* Password(const Invocation& invocation) { return invocation.password.c_str(); }

JobResult Code(int32_t code) {
  JobResult result;
  result.code = code;
  return result;
}

JobResult List(int32_t code, const char* text) {
  JobResult result = Code(code);
  result.text = text;
  return result;
}

std::string AskDrop(const Invocation& i) {
  return "Drop the database " + i.arguments[1] + " of server " + i.arguments[0] +
         " and remove its file?";
}
std::string AskDeinstall(const Invocation& i) {
  return "Deinstall the database " + i.arguments[1] + " from server " + i.arguments[0] + "?";
}
std::string AskTerminate(const Invocation& i) { return "Shut server " + i.arguments[0] + " down?"; }
std::string AskKillAll(const Invocation& i) {
  return i.all ? "Kill every client process of server " + i.arguments[0] + "?" : "";
}

// Rows of an export file: its line ends outside quoted values, less the heading line.
long long CountRows(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  long long lines = 0;
  bool quoted = false;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    // From quote to quote: line ends count only outside quotes. memchr and std::count keep a
    // large export's summary cheap beside the export itself.
    const char* at = buffer;
    const char* const end = buffer + file.gcount();
    while (at < end) {
      const void* found = std::memchr(at, '"', static_cast<std::size_t>(end - at));
      const char* quote = found != nullptr ? static_cast<const char*>(found) : end;
      if (!quoted) lines += std::count(at, quote, '\n');
      if (quote == end) break;
      quoted = !quoted;
      at = quote + 1;
    }
  }
  return lines > 0 ? lines - 1 : 0;
}

std::string ExportSummary(const std::string& path) {
  std::error_code ignored;
  const auto bytes = std::filesystem::file_size(path, ignored);
  const long long rows = CountRows(path);
  if (ignored) return std::to_string(rows) + (rows == 1 ? " row" : " rows");
  return std::to_string(rows) + (rows == 1 ? " row, " : " rows, ") + std::to_string(bytes) +
         " bytes" + (bytes >= 1000 ? " (" + HumanBytes(static_cast<double>(bytes)) + ")" : "");
}

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

// Only an early word for the plain spelling: the library itself refuses, however ROOT is
// spelled, to empty or write anything in the stand-in's folder of servers or in a server's
// folder (where a database named like a server would have that server's folder emptied), and
// then fails each backup; this says why before anything is tried.
std::string CheckSnapshotRoot(const Invocation& invocation) {
  const StandinAdminApi* standin = FindStandinAdminApi();
  if (standin == nullptr) return "";
  std::error_code error;
  const std::filesystem::path servers = std::filesystem::weakly_canonical(standin->root(), error);
  const std::filesystem::path root =
      std::filesystem::weakly_canonical(invocation.arguments[1], error);
  if (error || servers != root) return "";
  return "ROOT must not be the stand-in's folder of servers (" + servers.string() +
         "): emptying a database's directory there could empty a server";
}

// The names of a DirDB list, "name;name;".
std::vector<std::string> DatabaseNames(const char* list) {
  std::vector<std::string> names;
  std::string name;
  for (const char* at = list; *at != '\0'; ++at) {
    if (*at != ';') {
      name += *at;
    } else if (!name.empty()) {
      names.push_back(name);
      name.clear();
    }
  }
  return names;
}

std::optional<std::vector<std::string>> ListDatabases(const Invocation& i) {
  std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
  if (DirDB(Argument(i, 0), Password(i), list.data()) != 0) return std::nullopt;
  list.back() = '\0';
  return DatabaseNames(list.data());
}

// The library kills the processes of a database it does not check for: a mistyped name kills
// nothing and succeeds.
JobResult KillAll(const Invocation& i) {
  JobResult result =
      Code(KillAllConnections(Argument(i, 0), Password(i), i.all ? "" : Argument(i, 1)));
  if (i.all || result.code != 0) return result;
  const std::optional<std::vector<std::string>> names = ListDatabases(i);
  if (names && std::find(names->begin(), names->end(), i.arguments[1]) == names->end()) {
    result.problem = "server " + i.arguments[0] + " has no database " + i.arguments[1] +
                     ": no process was killed";
  }
  return result;
}

// Windows takes these for devices wherever they stand in a path: CON, PRN, AUX, NUL, and COM
// or LPT with a digit or a superscript 1 to 3 of the ANSI code page, before any extension.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  const auto digit = static_cast<unsigned char>(base.size() == 4 ? base[3] : 'X');
  return (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
         ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

bool IsLinkPath(const std::string& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
#endif
}

bool EndsInCaseless(const std::string& name, const std::string& suffix) {
  if (name.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[name.size() - suffix.size() + i])) !=
        std::toupper(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

// Which directory stands at a path: equal before and after a run when the library did not
// replace it; nullopt when there is none.
using DirectoryIdentity = std::pair<unsigned long long, unsigned long long>;
std::optional<DirectoryIdentity> IdentityOf(const std::string& path) {
#if defined(_WIN32)
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return DirectoryIdentity{information.dwVolumeSerialNumber,
                           (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                               information.nFileIndexLow};
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  return DirectoryIdentity{info.st_dev, info.st_ino};
#endif
}

bool ExistsPath(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

bool IsDirectory(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(std::filesystem::symlink_status(path, ignored));
}

// Why AllSnapShot skips a database, by the library's rules (the README's "Deliberate
// deviations"); empty when it backs it up. The library gives the skip no more than
// QUILLET_ERROR_ARGUMENT.
std::string SkipReason(const std::string& root, const std::string& name) {
  constexpr std::size_t kLongestPath = 259;  // the library's Win32 paths, less their NUL
  if (name.empty() || name == "." || name == "..") return "the name cannot be a directory";
  if (name.find_first_of("\\/:") != std::string::npos) return "the name holds \\, / or :";
  if (name.back() == '.' || name.back() == ' ') return "the name ends in a dot or a blank";
  if (IsDeviceName(name)) return "Windows takes the name for a device";
  if (EndsInCaseless(name, ".partial") || EndsInCaseless(name, ".prior")) {
    return "the name ends in .partial or .prior, as another database's backup on its way";
  }
  if (name.size() == 13 && EndsInCaseless(name, ".quillet.lock")) {
    return "the name is that of the root's lock file";
  }
  if (root.size() + 1 + name.size() > kLongestPath) {
    return "its directory's path would be longer than " + std::to_string(kLongestPath) + " bytes";
  }
  for (const char* suffix : {"", ".prior", ".partial"}) {
    const std::string directory = root + "/" + name + suffix;
    if (IsLinkPath(directory)) return directory + " is a symbolic link";
    if (ExistsPath(directory) && !IsDirectory(directory)) {
      return directory + " is a file, not a directory, and is left as it is";
    }
#if !defined(_WIN32)
    struct stat info {};
    if (lstat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
      return directory + " belongs to another user or may be written by its group or others";
    }
#endif
  }
  return "";
}

// Why a database that was not skipped has no new backup; empty when it has one. The library's
// result is the code of the last failure only, and the stand-in keeps its words for that one.
std::string FailureReason(const std::string& root, const std::string& name,
                          const std::optional<DirectoryIdentity>& before,
                          const std::optional<DirectoryIdentity>& beforePrior) {
  const std::string directory = root + "/" + name;
  std::error_code ignored;
  // Only a backup file there is a backup that could not be put in place.
  if (std::filesystem::is_regular_file(
          std::filesystem::symlink_status(directory + ".partial/" + name + ".db", ignored))) {
    return "its backup could not be put in place and is in " + directory + ".partial" +
           (ExistsPath(directory + ".prior") ? " (" + directory + ".prior could not be removed)"
                                             : "");
  }
  const std::optional<DirectoryIdentity> after = IdentityOf(directory);
  // A prior given its name back is the old backup, not a new one.
  if (after && after != before && after != beforePrior) return "";
  return before ? "its backup failed; the previous backup is kept" : "its backup failed";
}

// Waits, as the library would, while another run holds the root's lock: what that run puts in
// place meanwhile would look like this run's new backups. A lock that cannot be opened is the
// library's to judge.
void WaitWhileRootLocked(const std::string& root) {
#if !defined(_WIN32)
  const std::string lock = root + "/.quillet.lock";
  const int file = open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return;
  struct stat info {};
  if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
    constexpr int kTries = 5 * 60 * 10;  // the library's 5 minutes, a try every 100 ms
    for (int t = 0; t < kTries && flock(file, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
         ++t) {
      usleep(100000);
    }
  }
  close(file);  // and with it the shared lock, before the library takes its own
#else
  static_cast<void>(root);
#endif
}

// A failed all-snapshot names each database it skipped or could not back up and why, which
// its one code cannot say.
JobResult SnapshotAll(const Invocation& i) {
  const std::vector<std::string> names = ListDatabases(i).value_or(std::vector<std::string>{});
  WaitWhileRootLocked(i.arguments[1]);
  std::vector<std::optional<DirectoryIdentity>> before;
  std::vector<std::optional<DirectoryIdentity>> beforePrior;
  for (const std::string& name : names) {
    before.push_back(IdentityOf(i.arguments[1] + "/" + name));
    beforePrior.push_back(IdentityOf(i.arguments[1] + "/" + name + ".prior"));
  }
  JobResult result = Code(AllSnapShot(Argument(i, 0), Password(i), Argument(i, 1)));
  const std::string lockPath = i.arguments[1] + "/.quillet.lock";
  if (result.code == QUILLET_ERROR_ROOT_IN_USE && ExistsPath(lockPath)) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(lockPath, ignored))) {
      result.note = lockPath +
                    " is not a regular file (a directory, link or FIFO), so no run can lock the "
                    "root and none was started: remove it";
    }
  }
  if (result.code == 0 || result.code == QUILLET_ERROR_ROOT_IN_USE) return result;
#if !defined(_WIN32)
  struct stat rootInfo {};
  if (result.code == QUILLET_ERROR_ARGUMENT && stat(i.arguments[1].c_str(), &rootInfo) == 0 &&
      S_ISDIR(rootInfo.st_mode) && (rootInfo.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
      (rootInfo.st_mode & S_ISVTX) == 0) {
    result.note = "nothing was backed up: " + i.arguments[1] +
                  " may be written by its group or others, who could put a link in place of a "
                  "backup's directory; make it the owner's alone (chmod go-w) or sticky "
                  "(chmod +t)";
    return result;
  }
#endif
  std::string skipped;
  std::vector<std::string> failed;
  for (std::size_t n = 0; n < names.size(); ++n) {
    const std::string reason = SkipReason(i.arguments[1], names[n]);
    if (!reason.empty()) {
      skipped += (skipped.empty() ? "" : ", ") + names[n] + " (" + reason + ")";
      continue;
    }
    const std::string why = FailureReason(i.arguments[1], names[n], before[n], beforePrior[n]);
    if (!why.empty()) failed.push_back(names[n] + " (" + why);
  }
  // The last failure in list order is the one the code and the stand-in's words are of.
  if (!failed.empty() && result.code != QUILLET_ERROR_ARGUMENT) {
    const char* detail = StandinLastMessage(result.code);
    failed.back() += ": return code " + std::to_string(result.code) +
                     (detail != nullptr ? ", " + std::string(detail) : "");
  }
  std::string note = skipped.empty() ? "" : "skipped, so not backed up: " + skipped;
  for (std::size_t f = 0; f < failed.size(); ++f) {
    note +=
        std::string(f == 0 ? (note.empty() ? "" : "; ") + std::string("not backed up: ") : ", ") +
        failed[f] + ")";
  }
  result.note = note;
  return result;
}

// By the library's design a failed LOCK DATABASE does not stop the load, and its code is the
// result when the load and the commit succeed. The stand-in's last words with that code are
// the lock's only when nothing failed with it after the lock: the load and its commit went
// through.
JobResult Reload(const Invocation& i) {
  JobResult result = Code(ReLoad(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
  if (result.code != STANDIN_DATABASE_LOCKED) return result;
  const char* detail = StandinLastMessage(result.code);
  if (detail == nullptr || std::string_view(detail).rfind(STANDIN_LOCK_NOT_TAKEN, 0) != 0) {
    return result;
  }
  result.workDone = true;
  const char* meaning = StandinCodeText(result.code);
  result.warning =
      "loaded and committed without the database lock: LOCK DATABASE failed with "
      "return code " +
      std::to_string(result.code) + (meaning != nullptr ? " (" + std::string(meaning) + ")" : "") +
      ": " + detail + "; the script's changes are in, do not run it again";
  return result;
}

// ExportCSV runs whatever it is given, runs it again after binding its columns and commits:
// a change is made, twice, before the export fails for want of rows. The stand-in tells a
// change without running it.
std::string RefuseNonQuery(const Invocation& i) {
  const std::optional<int32_t> kind = StandinStatementKind(i.arguments[0], i.arguments[2]);
  if (kind == STANDIN_STATEMENT_CHANGES) {
    return "STATEMENT would change the database, and export-csv takes a query (reload runs "
           "changes, from a script): nothing was run";
  }
  if (kind == STANDIN_STATEMENT_NO_ROWS) {
    return "STATEMENT reads no rows, and export-csv takes a query: nothing was run";
  }
  return "";
}

// The columns ExportCSV takes at most; it refuses a statement of more.
constexpr int32_t kMostColumns = 255;

// Values are bound with 50 bytes and headings hold 18, the library's design: the stand-in says
// what it cut. Columns are named as the heading names them, with their place, as two cut
// names may be the same.
std::string CutNotice() {
  const std::optional<CutValues> cut = StandinCutValues(kMostColumns);
  if (!cut) return "";
  std::string text;
  if (cut->total > 0) {
    text = std::to_string(cut->total) + (cut->total == 1 ? " value was" : " values were") +
           " longer than 50 bytes and cut to at most 50, the most the library takes: ";
    for (std::size_t k = 0; k < cut->columns.size(); ++k) {
      text += (k == 0 ? "" : ", ") + std::to_string(cut->columns[k].count) + " in column " +
              std::to_string(cut->columns[k].position) + " \"" + cut->columns[k].heading + "\"";
    }
  }
  if (!cut->names.empty()) {
    text += std::string(text.empty() ? "" : "; ") + std::to_string(cut->names.size()) +
            (cut->names.size() == 1 ? " column name was" : " column names were") +
            " longer than 18 bytes and cut to at most 18 in the heading: ";
    for (std::size_t k = 0; k < cut->names.size(); ++k) {
      text += (k == 0 ? "" : ", ") + std::string("column ") +
              std::to_string(cut->names[k].position) + " \"" + cut->names[k].heading + "\" (\"" +
              cut->names[k].whole + "\")";
    }
  }
  return text;
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
  result.problem = RefuseNonQuery(i);
  if (!result.problem.empty()) return result;
  std::optional<SafeOutput> output =
      SafeOutput::Create(target, &result.problem, [](const std::string& folder) {
        return InStandinServerFolder(folder)
                   ? "the folder " + folder +
                         " holds a stand-in server: FILE there could replace its catalogue or "
                         "a database; write it elsewhere"
                   : std::string();
      });
  if (!output) return result;
  if (!output->InPlace().empty()) {
    result.warning = target + " is written in place, as its folder takes no temporary file (" +
                     output->InPlace() + "): a failed export leaves it incomplete";
  }
  if (i.progress != nullptr) i.progress->WatchFile(output->TemporaryPath());
  // Named as it is found in its folder, though the library gets its descriptor's name.
  if (i.sayCall) i.sayCall(3, output->TemporaryFileName());
  result.code = ExportCSV(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2),
                          output->TemporaryPath().c_str());
  if (result.code != 0) {
    result.problem = output->Abandon(i.keepPartial);
    if (!output->InPlace().empty()) {
      result.note = target + " holds the rows written before the failure";
    } else if (output->Direct()) {
      result.note = "the rows written before the failure went to " + target +
                    ", which is written through, never replaced (a device or a pipe)";
    } else if (output->Held()) {
      result.note = "nothing was written to " + target + ", which this program holds open";
    } else if (target == kStandardOutput) {
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
    if (FindStandinAdminApi() == nullptr && result.code != QUILLET_ERROR_FILE &&
        result.code != QUILLET_ERROR_ARGUMENT) {
      result.note += std::string(result.note.empty() ? "" : "; ") +
                     "the library ran STATEMENT, ran it again and committed: if it was not a "
                     "query, its changes were made, up to twice";
    }
    return result;
  }
  if (i.progress != nullptr) i.progress->WatchFile("");
  // A device or a pipe cannot be read back for the count.
  if (!output->Direct() || !output->InPlace().empty()) {
    result.summary = ExportSummary(output->TemporaryPath());
  }
  result.notice = CutNotice();
  result.problem = output->Commit(i.out != nullptr ? *i.out : std::cout);
  return result;
}

#if !defined(_WIN32)
const std::string& PasswordUser(const Invocation& i) {
  return i.forUser.empty() ? i.arguments[1] : i.forUser;
}

// The user's name goes into the statement: one word of letters, digits and "_", so that
// nothing can ride along with it. The server applies its own rule for user names.
std::string CheckSetPassword(const Invocation& i) {
  const std::string& user = PasswordUser(i);
  const bool word = !user.empty() && std::all_of(user.begin(), user.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
  if (word) return "";
  return std::string(i.forUser.empty() ? "USER" : "--for USER") +
         " must be letters, digits and _ only";
}

std::string NewPasswordProblem(const Invocation& i) {
  // What the library joins into a connect text, as every database job of the user will.
  constexpr std::size_t kMaxLogin = 125;
  const std::string& password = i.newPassword;
  if (password.empty()) return "the new password cannot be empty";
  if (std::any_of(password.begin(), password.end(), [](char c) {
        return std::isspace(static_cast<unsigned char>(c)) != 0 || c == ';';
      })) {
    return "the new password cannot hold blanks or \";\": it goes into the statement as one word";
  }
  if (i.arguments[0].size() + PasswordUser(i).size() + password.size() > kMaxLogin) {
    return "the new password is too long: database name, user name and password together take "
           "at most 125 characters";
  }
  return "";
}

// The grant reaches the server as a load script of one statement in an anonymous file in this
// process's memory (memfd_create), which the stand-in, running in this process, reads through
// its /proc/self/fd name: no folder ever holds it, it is gone when closed, and the password is
// on no command line. Load runs it as a unit and commits, so its result says whether the
// password changed. A server of another client library would look for that name on its own
// machine, so the job needs the stand-in.
JobResult SetPassword(const Invocation& i) {
  JobResult result;
  result.problem = NewPasswordProblem(i);
  if (!result.problem.empty()) return result;
  if (FindStandinAdminApi() == nullptr) {
    result.problem =
        "set-password hands the stand-in server a script held in this process's memory; the "
        "client library that libquillet.so loaded is not the stand-in, so use the server's own "
        "tools";
    return result;
  }
  const int script = memfd_create("quillet-set-password", MFD_CLOEXEC);
  if (script < 0) {
    result.problem = std::string("cannot make the script in memory: ") + std::strerror(errno);
    return result;
  }
  // Appended in place, into room reserved first: no copy of the password is left behind.
  std::string text;
  text.reserve(64 + PasswordUser(i).size() + i.newPassword.size());
  text.append("GRANT CONNECT TO ").append(PasswordUser(i));
  text.append(" IDENTIFIED BY ").append(i.newPassword).append(";\n");
  const std::size_t size = text.size();
  const bool written = write(script, text.data(), size) == static_cast<ssize_t>(size);
  WipePassword(text);
  if (written) {
    const std::string command = "LOAD SQL /proc/self/fd/" + std::to_string(script);
    result.code = Load(Argument(i, 0), Argument(i, 1), Password(i), command.c_str());
  } else {
    result.problem = std::string("cannot write the script in memory: ") + std::strerror(errno);
  }
  const std::string zeros(size, '\0');
  (void)!pwrite(script, zeros.data(), size, 0);
  close(script);
  return result;
}
#endif

}  // namespace

void AddLibrarySubcommands(CommandLine& commandLine) {
  Invocation& given = commandLine.invocation();
  commandLine.Add(
      Subcommand("install-db", "SERVER DATABASE", "install an existing database on the server")
          .Describe("Installs the database DATABASE on SERVER, making it known to the server "
                    "again. A snapshot is restored with 'quillet restore'.")
          .As(Credential::kServer)
          .Runs("InstallDB",
                [](const Invocation& i) {
                  return Code(InstallDB(Argument(i, 0), Password(i), Argument(i, 1)));
                })
          .Example("quillet install-db ACME STOCK"));
  commandLine.Add(
      Subcommand("deinstall-db", "SERVER DATABASE", "deinstall a database, keeping its file")
          .Describe("Deinstalls the database DATABASE from SERVER: the server forgets it, its "
                    "file stays. On a terminal it asks first, unless -y is given.")
          .As(Credential::kServer)
          .Runs("DeinstallDB",
                [](const Invocation& i) {
                  return Code(DeinstallDB(Argument(i, 0), Password(i), Argument(i, 1)));
                })
          .Confirms(AskDeinstall)
          .Example("quillet deinstall-db ACME STOCK"));
  commandLine.Add(Subcommand("create-db", "SERVER DATABASE", "create a database")
                      .Describe("Creates the empty database DATABASE on SERVER and installs it.")
                      .As(Credential::kServer)
                      .Runs("CreateDB",
                            [](const Invocation& i) {
                              return Code(CreateDB(Argument(i, 0), Password(i), Argument(i, 1)));
                            })
                      .Example("quillet create-db ACME STOCK"));
  commandLine.Add(
      Subcommand("drop-db", "SERVER DATABASE", "drop a database and its file")
          .Describe("Drops the database DATABASE of SERVER, removing its file. On a terminal it "
                    "asks first, unless -y is given.")
          .As(Credential::kServer)
          .Runs("DropDB",
                [](const Invocation& i) {
                  return Code(DropDB(Argument(i, 0), Password(i), Argument(i, 1)));
                })
          .Confirms(AskDrop)
          .Example("quillet drop-db ACME STOCK"));
  commandLine.Add(
      Subcommand("terminate-server", "SERVER", "shut the server down")
          .Describe("Shuts SERVER down; it refuses connections until it is started again. On a "
                    "terminal it asks first, unless -y is given.")
          .As(Credential::kServer)
          .Runs("TerminateServer",
                [](const Invocation& i) {
                  return Code(TerminateServer(Argument(i, 0), Password(i)));
                })
          .Confirms(AskTerminate)
          .Example("quillet terminate-server ACME -y"));
  commandLine.Add(
      Subcommand("kill-connection", "SERVER PROCESS", "kill one client process")
          .Describe("Kills the client process number PROCESS on SERVER (see list-connections).")
          .As(Credential::kServer)
          .Runs("KillConnection",
                [](const Invocation& i) {
                  return Code(
                      KillConnection(Argument(i, 0), Password(i), *ParseInt32(i.arguments[1])));
                })
          .Checks(CheckProcessNumber)
          .Example("quillet kill-connection ACME 12"));
  commandLine.Add(
      Subcommand("dir-db", "SERVER", "list the server's databases")
          .Describe("Lists the databases of SERVER, one per line, or in the form --format asks "
                    "for: json (an array of names), csv, or raw, the library's own text: each "
                    "name followed by \";\".")
          .As(Credential::kServer)
          .Runs("DirDB",
                [](const Invocation& i) {
                  std::array<char, QUILLET_DATABASE_LIST_SIZE> list{};
                  const int32_t code = DirDB(Argument(i, 0), Password(i), list.data());
                  list.back() = '\0';
                  return List(code, list.data());
                })
          .Lists(Listing::kDatabases)
          .Example("quillet dir-db ACME --format json | jq -r '.[]'"));
  CLI::App& snapshot = commandLine.Add(
      Subcommand("snapshot", "SERVER DATABASE DIRECTORY", "back up one database into a directory")
          .Describe("Has SERVER write a backup snapshot of DATABASE into DIRECTORY, which must "
                    "exist; nothing else in it is touched. The server writes the file, so "
                    "DIRECTORY is a path on the server's machine.")
          .As(Credential::kServer)
          .Runs("SnapShot",
                [](const Invocation& i) {
                  return Code(SnapShot(i.flag, Argument(i, 0), Password(i), Argument(i, 1),
                                       Argument(i, 2)));
                })
          .HandsFlag()
          .Shows(Progress::kElapsed)
          .Example("quillet snapshot ACME STOCK /backups/stock"));
  snapshot.add_option("--flag", given.flag, "the backup flag handed to the server (default 1)")
      ->type_name("N")
      ->transform(WholeNumber());
  commandLine.Add(
      Subcommand("all-snapshot", "SERVER ROOT", "back up every database, one directory each")
          .Describe("Backs up every database of SERVER into ROOT/DATABASE.partial, and only once "
                    "that backup succeeded renames ROOT/DATABASE to DATABASE.prior, the new one "
                    "to ROOT/DATABASE, and removes the prior: a failed backup keeps the previous "
                    "one. ROOT must exist and may be written by no one else unless sticky; one "
                    "run at a time holds ROOT/.quillet.lock. On failures the others are still "
                    "backed up and the last failure is reported, with the databases not backed "
                    "up and why.")
          .As(Credential::kServer)
          .Runs("AllSnapShot", SnapshotAll)
          .Checks(CheckSnapshotRoot)
          .Shows(Progress::kSnapshots)
          .Example("quillet all-snapshot ACME /backups/tonight"));
  commandLine.Add(
      Subcommand("list-connections", "SERVER", "list the connected client processes")
          .Describe("Lists the client processes connected to SERVER as a table (process, "
                    "database, user, program), or in the form --format asks for: json (an array "
                    "of objects with process, database, user and program), csv, or raw, the "
                    "library's own text: \"process:database:user:program\" joined by \";\".")
          .As(Credential::kServer)
          .Runs("ListConnections",
                [](const Invocation& i) {
                  std::array<char, QUILLET_CONNECTION_LIST_SIZE> list{};
                  const int32_t code = ListConnections(Argument(i, 0), Password(i), list.data());
                  list.back() = '\0';
                  return List(code, list.data());
                })
          .Lists(Listing::kConnections)
          .Example("quillet list-connections ACME --format json | jq '.[] | select(.database == "
                   "\"STOCK\")'"));
  CLI::App& killAll = commandLine.Add(
      Subcommand("kill-all-connections", "SERVER [DATABASE]",
                 "kill every process of one or all databases")
          .Describe("Kills every client process of SERVER attached to DATABASE (the name "
                    "compared exactly), or with --all every client process of the server. "
                    "Processes already gone do not count as failures; a DATABASE the server does "
                    "not have does. With --all it asks first on a terminal, unless -y is given.")
          .As(Credential::kServer)
          .Runs("KillAllConnections", KillAll)
          .Checks(CheckDatabaseOrAll)
          .Confirms(AskKillAll)
          .Example("quillet kill-all-connections ACME STOCK"));
  killAll.add_flag("--all", given.all, "every connection, whatever its database")
      ->disable_flag_override();
  commandLine.Add(Subcommand("update-stats", "DATABASE USER", "update the optimizer statistics")
                      .Describe("Runs UPDATE STATISTICS ON DATABASE on DATABASE as USER.")
                      .As(Credential::kDatabaseUser)
                      .Runs("UpdateStats",
                            [](const Invocation& i) {
                              return Code(UpdateStats(Argument(i, 0), Argument(i, 1), Password(i)));
                            })
                      .Example("quillet update-stats STOCK SYSADM"));
  commandLine.Add(Subcommand("release-log", "DATABASE USER", "release the transaction log")
                      .Describe("Releases the transaction log of DATABASE, connected as USER.")
                      .As(Credential::kDatabaseUser)
                      .Runs("ReleaseLog",
                            [](const Invocation& i) {
                              return Code(ReleaseLog(Argument(i, 0), Argument(i, 1), Password(i)));
                            })
                      .Example("quillet release-log STOCK SYSADM"));
  commandLine.Add(
      Subcommand("load", "DATABASE USER COMMAND", "run a load command")
          .Describe("Runs the load COMMAND, the whole command text, on DATABASE as USER and "
                    "commits when it succeeds. The stand-in takes \"LOAD SQL FILE\", which runs "
                    "the SQL script FILE. The server reads FILE: a path on the server's machine.")
          .As(Credential::kDatabaseUser)
          .Runs("Load",
                [](const Invocation& i) {
                  return Code(Load(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
                })
          .Shows(Progress::kElapsed)
          .Example("quillet load STOCK SYSADM \"LOAD SQL /srv/stock.sql\""));
  commandLine.Add(
      Subcommand("unload", "DATABASE USER COMMAND", "run an unload command")
          .Describe("Runs the unload COMMAND, the whole command text, on DATABASE as USER. The "
                    "stand-in takes \"UNLOAD SQL FILE\" and \"UNLOAD DATABASE FILE\", which both "
                    "write a SQL script that rebuilds the database. The server writes FILE: a "
                    "path on the server's machine.")
          .As(Credential::kDatabaseUser)
          .Runs("Unload",
                [](const Invocation& i) {
                  return Code(Unload(Argument(i, 0), Argument(i, 1), Password(i), Argument(i, 2)));
                })
          .Shows(Progress::kElapsed)
          .Example("quillet unload STOCK SYSADM \"UNLOAD DATABASE /srv/stock.sql\""));
  commandLine.Add(
      Subcommand("reload", "DATABASE USER SCRIPT", "load a SQL script under a database lock")
          .Describe("Locks DATABASE, loads the SQL script file SCRIPT into it and unlocks it, "
                    "connected as USER. The server reads SCRIPT: a path on the server's machine. "
                    "When the lock cannot be had, the library still loads and commits the "
                    "script, without it; with the stand-in that is said, and the exit status is "
                    "0.")
          .As(Credential::kDatabaseUser)
          .Runs("ReLoad", Reload)
          .Shows(Progress::kElapsed)
          .Example("quillet reload STOCK SYSADM /srv/stock.sql"));
  CLI::App& exportCsv = commandLine.Add(
      Subcommand("export-csv", "DATABASE USER STATEMENT FILE",
                 "export a query's rows to a CSV file")
          .Describe("Runs the SELECT STATEMENT on DATABASE as USER and writes its rows to FILE "
                    "as comma-separated text: a heading line of quoted column names, text "
                    "quoted, numbers and dates bare, every line ended by CR LF. Values reach the "
                    "file as at most 50 bytes (with the stand-in, how many were cut, and in "
                    "which columns, is said after the export). STATEMENT must be a query: the "
                    "library runs it twice and commits, so with the stand-in a statement that "
                    "would change the database is refused before it runs (reload runs changes). "
                    "The rows go to a temporary file beside FILE that replaces FILE only when "
                    "the export succeeds, so a failed export leaves a previous FILE as it was. "
                    "FILE \"-\" writes the rows to standard output, once the export has "
                    "succeeded; a device, a pipe or a file the program holds open (/dev/stdout) "
                    "is written directly. A FILE in a stand-in server's folder, or a link of "
                    "another user in a folder others may write to, is refused.")
          .As(Credential::kDatabaseUser)
          .Runs("ExportCSV", ExportToFile)
          .SaysItsCall()
          .Checks(CheckExport)
          .Shows(Progress::kExport)
          .Example("quillet export-csv STOCK SYSADM \"SELECT * FROM stock\" stock.csv"));
  exportCsv
      .add_flag("--keep-partial", given.keepPartial,
                "after a failure keep the rows written so far as FILE.partial")
      ->disable_flag_override();
#if !defined(_WIN32)
  // Only the stand-in takes it, and Windows has none.
  CLI::App& setPassword = commandLine.Add(
      Subcommand("set-password", "DATABASE USER", "change a user's password, or add a user")
          .Describe("Connects to DATABASE as USER and sets USER's password, or with --for "
                    "OTHER_USER that of OTHER_USER, adding OTHER_USER when the database has no "
                    "such user. The new password comes from --new-password-file FILE (- for "
                    "standard input), else from a prompt without echo, asked twice, when "
                    "standard input is a terminal; never from an argument or the environment. "
                    "It holds no blanks and no \";\". It reaches the stand-in server as GRANT "
                    "CONNECT TO USER IDENTIFIED BY PASSWORD in a load script held in memory "
                    "only, never in a file. Every new database has the user SYSADM with the "
                    "password SYSADM: change it first.")
          .As(Credential::kDatabaseUser)
          .SetsPassword()
          .Runs("Load", SetPassword)
          .Checks(CheckSetPassword)
          .Example("quillet set-password STOCK SYSADM --for CLERK"));
  setPassword
      .add_option("--for", given.forUser, "set USER's password instead, adding USER when missing")
      ->type_name("USER");
#endif
}

}  // namespace quillet::cli
