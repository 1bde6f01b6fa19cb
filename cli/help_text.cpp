#include "help_text.h"

#include <algorithm>
#include <cstddef>

#include "password_source.h"

namespace quillet::cli {
namespace {

#if defined(_WIN32)
#define QUILLET_LIBRARY_FILE "Quillet.dll"
#else
#define QUILLET_LIBRARY_FILE "libquillet.so"
#endif

constexpr std::size_t kNameColumn = 22;
constexpr std::size_t kLineWidth = 79;

// Breaks a paragraph between words so that no line is longer than kLineWidth.
std::string Wrapped(std::string_view paragraph) {
  std::string text;
  std::size_t lineLength = 0;
  while (!paragraph.empty()) {
    const std::size_t end = paragraph.find(' ');
    const std::string_view word = paragraph.substr(0, end);
    if (lineLength > 0 && lineLength + 1 + word.size() > kLineWidth) {
      text += '\n';
      lineLength = 0;
    } else if (lineLength > 0) {
      text += ' ';
      ++lineLength;
    }
    text += word;
    lineLength += word.size();
    paragraph.remove_prefix(end == std::string_view::npos ? paragraph.size() : end + 1);
  }
  return text + "\n";
}

std::string PasswordParagraph(Credential credential) {
  std::string whose;
  std::string variables =
      std::string(kServerPasswordVariable) + " (else " + kPasswordVariable + ")";
  switch (credential) {
    case Credential::kNone:
      return "";
    case Credential::kServer:
      whose = "The server's password";
      break;
    case Credential::kNewServer:
      whose = "The new server's password";
      break;
    case Credential::kDatabaseUser:
      whose = "The user's password";
      variables = kPasswordVariable;
      break;
  }
  std::string text =
      "\n" + Wrapped(whose +
                     " comes from --password-file FILE (- for standard input), else from the "
                     "environment variable " +
                     variables +
                     ", else from a prompt without echo when standard input is a terminal. "
                     "It is never taken as an argument.");
  if (credential == Credential::kDatabaseUser) {
    text += "\n" + Wrapped(
                       "When several stand-in servers hold the database, --server NAME (or the "
                       "environment variable QUILLET_SERVER) says which one is meant.");
  }
  return text;
}

std::string OptionLines(unsigned options) {
  std::string text = "\nOptions:\n";
  if ((options & kOptionPasswordFile) != 0) {
    text +=
        "  --password-file FILE  read the password from the first line of FILE, which\n"
        "                        only its owner may read; - reads standard input\n";
  }
  if ((options & kOptionNewPasswordFile) != 0) {
    text +=
        "  --new-password-file FILE\n"
        "                        read the new password from the first line of FILE,\n"
        "                        which only its owner may read; - reads standard input\n"
        "                        (the line after the current password's, when both come\n"
        "                        from it)\n";
  }
  if ((options & kOptionFor) != 0) {
    text += "  --for USER            set USER's password instead, adding USER when missing\n";
  }
  if ((options & kOptionServer) != 0) {
    text += "  --server NAME         the stand-in server that holds DATABASE\n";
  }
  if ((options & kOptionFormat) != 0) {
    text +=
        "  --format FORMAT       table (the default), json, csv or raw: the library's\n"
        "                        text exactly as it returns it (also --raw)\n";
  }
  if ((options & kOptionFlag) != 0) {
    text += "  --flag N              the backup flag handed to the server (default 1)\n";
  }
  if ((options & kOptionAll) != 0) {
    text += "  --all                 every connection, whatever its database\n";
  }
  if ((options & kOptionKeepPartial) != 0) {
    text +=
        "  --keep-partial        after a failure keep the rows written so far as FILE.partial\n";
  }
  if ((options & kOptionYes) != 0) {
    text += "  -y, --yes             do not ask for confirmation on a terminal\n";
  }
  text += "  -q, --quiet           show no progress and no closing summary\n";
  text += "  -v, --verbose         also show the library call and its result\n";
  text += "  -h, --help            show this help\n";
  return text;
}

std::string Group(const SubcommandTable& table, std::string_view prefix, Credential credential,
                  const std::string& heading) {
  std::string text;
  for (const Subcommand& subcommand : table) {
    if (subcommand.name.substr(0, prefix.size()) != prefix) continue;
    const bool standIn = subcommand.name.substr(0, 7) == "server ";
    const bool wanted =
        credential == Credential::kNone ? standIn : !standIn && subcommand.credential == credential;
    if (!wanted) continue;
    std::string name(subcommand.name);
    name.resize(std::max(kNameColumn, name.size() + 2), ' ');
    text += "  " + name + std::string(subcommand.summary) + "\n";
  }
  return text.empty() ? "" : "\n" + heading + "\n" + text;
}

}  // namespace

std::string UsageLine(const Subcommand& subcommand) {
  std::string line = "Usage: quillet " + std::string(subcommand.name);
  if (!subcommand.usage.empty()) line += " " + std::string(subcommand.usage);
  return line + " [options]\n";
}

std::string SubcommandHelp(const Subcommand& subcommand) {
  std::string text = UsageLine(subcommand) + "\n" + Wrapped(subcommand.description) +
                     PasswordParagraph(subcommand.credential) + OptionLines(subcommand.options);
  if (!subcommand.example.empty())
    text += "\nExample:\n  " + std::string(subcommand.example) + "\n";
  return text;
}

std::string OverallHelp(const SubcommandTable& table, std::string_view prefix) {
  std::string text = prefix.empty()
                         ? "Usage: quillet SUBCOMMAND ARGUMENTS... [options]\n\n"
                           "Administers SQLBase database servers through " QUILLET_LIBRARY_FILE
                           ", one job per call.\n"
                         : "Usage: quillet " + std::string(prefix) + "ACTION SERVER [options]\n";
  text += Group(table, prefix, Credential::kServer, "Server jobs (the server's password):");
  text += Group(table, prefix, Credential::kDatabaseUser,
                "Database jobs (DATABASE and USER, the user's password):");
  text += Group(table, prefix, Credential::kNone, "Stand-in servers on this machine:");
  if (!prefix.empty()) return text;
  text += "\n" +
          Wrapped(std::string("Passwords are never taken as arguments: they come from "
                              "--password-file FILE (- for standard input), else from the "
                              "environment variable ") +
                  kServerPasswordVariable + " for server jobs (else " + kPasswordVariable +
                  ") and " + kPasswordVariable +
                  " for database jobs, else from a prompt without echo when standard input is "
                  "a terminal. Options may also stand before the subcommand.") +
          "\n" +
          Wrapped(
              "Exit status: 0 on success; 1 when the job failed (the message gives the "
              "return code and, where known, its meaning and the server's own words); 2 when "
              "the command line was not understood or no password was found; 3 from 'server "
              "status' when the server is not running.") +
          "\nOptions for every subcommand:\n"
          "  -q, --quiet           show no progress and no closing summary\n"
          "  -v, --verbose         also show the library call and its result\n"
          "  -h, --help            show the help\n"
          "\nquillet -V, --version  shows the versions of the command line, the library and\n"
          "                        the client library\n"
          "\n'quillet SUBCOMMAND --help' describes one subcommand, with its own options.\n";
  return text;
}

}  // namespace quillet::cli
