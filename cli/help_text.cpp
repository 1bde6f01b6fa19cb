#include "help_text.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "password_source.h"

namespace quillet::cli {
namespace {

#if defined(_WIN32)
#define QUILLET_LIBRARY_FILE "Quillet.dll"
#else
#define QUILLET_LIBRARY_FILE "libquillet.so"
#endif

constexpr std::size_t kNameColumn = 24;
constexpr std::size_t kLineWidth = 79;

// Breaks a paragraph between words so that no line is longer than kLineWidth, the lines after
// the first indented by indent, which is where the first one starts too.
std::string Wrapped(std::string_view paragraph, std::size_t indent = 0) {
  std::string text;
  std::size_t lineLength = indent;
  bool lineStart = true;
  while (!paragraph.empty()) {
    const std::size_t end = paragraph.find(' ');
    const std::string_view word = paragraph.substr(0, end);
    if (!lineStart && lineLength + 1 + word.size() > kLineWidth) {
      text += "\n" + std::string(indent, ' ');
      lineLength = indent;
    } else if (!lineStart) {
      text += ' ';
      ++lineLength;
    }
    text += word;
    lineLength += word.size();
    lineStart = false;
    paragraph.remove_prefix(end == std::string_view::npos ? paragraph.size() : end + 1);
  }
  return text + "\n";
}

// "  NAME  what it does", the text in its column, or on the next line below a long name.
std::string Entry(const std::string& name, const std::string& text) {
  std::string line = "  " + name;
  if (line.size() + 2 > kNameColumn) {
    line += "\n";
    line.append(kNameColumn, ' ');
  } else {
    line.resize(kNameColumn, ' ');
  }
  return line + Wrapped(text, kNameColumn);
}

std::string OptionLines(const CLI::App& app, const std::string& heading) {
  std::string text = "\n" + heading + "\n";
  for (const CLI::Option* option : ShownOptions(app)) {
    const bool flag = option->get_items_expected_max() == 0;
    text += Entry(OptionNames(*option) + (flag ? "" : " " + option->get_type_name()),
                  option->get_description());
  }
  return text;
}

// The subcommands of the program or of a group, under their groups' headings, in order.
std::string SubcommandList(const CLI::App& app) {
  std::vector<std::pair<std::string, std::string>> sections;
  for (const CLI::App* job : Jobs(app)) {
    auto section = std::find_if(sections.begin(), sections.end(), [job](const auto& heading) {
      return heading.first == job->get_group();
    });
    if (section == sections.end()) section = sections.emplace(sections.end(), job->get_group(), "");
    section->second += Entry(FullName(*job), job->get_description());
  }
  std::string text;
  for (const auto& [heading, entries] : sections) text += "\n" + heading + ":\n" + entries;
  return text;
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

std::string SubcommandHelp(const CLI::App& job, const Subcommand& subcommand) {
  std::string text = UsageLine(job) + "\n" + Wrapped(subcommand.description) +
                     PasswordParagraph(subcommand.credential) + OptionLines(job, "Options:");
  if (!subcommand.example.empty()) {
    text += "\nExample:\n  " + std::string(subcommand.example) + "\n";
  }
  return text;
}

std::string OverallHelp(const CLI::App& app) {
  return "Usage: quillet SUBCOMMAND ARGUMENTS... [options]\n\n"
         "Administers SQLBase database servers through " QUILLET_LIBRARY_FILE
         ", one job per call.\n" +
         SubcommandList(app) + "\n" +
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
             "status' when the server is not running, from 'plan run' when another run holds "
             "the lock and from 'plan status --warn/--crit' when it cannot tell.") +
         OptionLines(app, "Options:") +
         "\n'quillet SUBCOMMAND --help' describes one subcommand, with its own options.\n";
}

}  // namespace

std::string ArgumentWords(const CLI::App& job) {
  std::string words;
  for (const CLI::Option* positional :
       job.get_options([](const CLI::Option* option) { return option->get_positional(); })) {
    const std::string& name = positional->get_name(true);
    words += " " + (positional->get_required() ? name : "[" + name + "]");
  }
  return words.empty() ? "" : words.substr(1);
}

std::string UsageLine(const CLI::App& job) {
  const std::string words = ArgumentWords(job);
  return "Usage: quillet " + FullName(job) + (words.empty() ? "" : " " + words) + " [options]\n";
}

std::string HelpText(const CommandLine& commandLine, const CLI::App& app) {
  if (app.get_parent() == nullptr) return OverallHelp(app);
  if (const Subcommand* subcommand = commandLine.Find(app)) return SubcommandHelp(app, *subcommand);
  return "Usage: quillet " + FullName(app) + " ACTION ARGUMENTS... [options]\n" +
         SubcommandList(app);
}

}  // namespace quillet::cli
