#include "reference_pages.h"

#include <set>

#include "help_text.h"

namespace quillet::cli {
namespace {

constexpr std::string_view kServerGroup = "server ";

// Text shown as it is in a no-fill block: roff takes "\" as an escape, "-" as a hyphen and a
// line starting with "." or "'" as a request.
std::string Preformatted(std::string_view text) {
  std::string roff = ".nf\n";
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) roff += "\\&";
    if (c == '\\') {
      roff += "\\e";
    } else if (c == '-') {
      roff += "\\-";
    } else {
      roff += c;
    }
    lineStart = c == '\n';
  }
  if (!lineStart) roff += '\n';
  return roff + ".fi\n";
}

bool IsServerAction(const Subcommand& subcommand) {
  return subcommand.name.substr(0, kServerGroup.size()) == kServerGroup;
}

std::string OptionWords(unsigned options) {
  std::string words = "--help";
  for (const OptionName& option : OptionNames()) {
    if ((options & option.option) != 0) words += " " + std::string(option.name);
  }
  return words;
}

}  // namespace

const std::vector<OptionName>& OptionNames() {
  static const std::vector<OptionName> names = {
      {kOptionPasswordFile, "--password-file", true},
      {kOptionFormat, "--format", true},
      {kOptionFlag, "--flag", true},
      {kOptionAll, "--all", false},
      {kOptionKeepPartial, "--keep-partial", false},
      {kOptionServer, "--server", true},
      {kOptionYes, "--yes", false},
      {kOptionNewPasswordFile, "--new-password-file", true},
      {kOptionFor, "--for", true},
  };
  return names;
}

std::string ManualPage(const SubcommandTable& table, std::string_view version) {
  std::string page = ".TH QUILLET 1 \"\" \"Quillet " + std::string(version) +
                     "\" \"User Commands\"\n"
                     ".SH NAME\n"
                     "quillet \\- administer SQLBase database servers, one job per call\n"
                     ".SH SYNOPSIS\n"
                     ".B quillet\n"
                     ".I SUBCOMMAND ARGUMENTS...\n"
                     "[options]\n"
                     ".br\n"
                     ".B quillet\n"
                     ".I SUBCOMMAND\n"
                     "\\-\\-help\n"
                     ".SH DESCRIPTION\n";
  page += Preformatted(OverallHelp(table, ""));
  page += ".SH SUBCOMMANDS\n";
  for (const Subcommand& subcommand : table) {
    page += ".SS " + std::string(subcommand.name) + "\n";
    page += Preformatted(SubcommandHelp(subcommand));
  }
  page +=
      ".SH ENVIRONMENT\n"
      ".TP\n"
      ".B QUILLET_SERVER_PASSWORD\n"
      "The server password of server jobs, when no \\-\\-password\\-file is given; "
      "QUILLET_PASSWORD when it is not set.\n"
      ".TP\n"
      ".B QUILLET_PASSWORD\n"
      "The password of database jobs, when no \\-\\-password\\-file is given.\n"
      ".TP\n"
      ".B QUILLET_SERVER\n"
      "The stand\\-in server of database jobs, as \\-\\-server.\n"
      ".SH SEE ALSO\n"
      "The README of Quillet, and quillet.h for the library's functions.\n";
  return page;
}

std::string BashCompletion(const SubcommandTable& table) {
  std::string topLevel = "help --help --version";
  std::string actions;
  std::set<std::string_view> valueOptions;
  std::string cases;
  bool hasServerGroup = false;
  for (const Subcommand& subcommand : table) {
    if (IsServerAction(subcommand)) {
      hasServerGroup = true;
      actions +=
          (actions.empty() ? "" : " ") + std::string(subcommand.name.substr(kServerGroup.size()));
    } else {
      topLevel += " " + std::string(subcommand.name);
    }
    cases += "    '" + std::string(subcommand.name) + "') words='" +
             OptionWords(subcommand.options) + "' ;;\n";
  }
  if (hasServerGroup) topLevel += " server";
  std::string fileOptions;
  for (const OptionName& option : OptionNames()) {
    if (option.takesValue)
      fileOptions += (fileOptions.empty() ? "" : "|") + std::string(option.name);
  }
  return "# bash completion for quillet, generated from its subcommand table.\n"
         "_quillet() {\n"
         "  local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  local subcommand=${COMP_WORDS[1]} words\n"
         "  COMPREPLY=()\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    words='" +
         topLevel +
         "'\n"
         "  elif [ \"$subcommand\" = server ] && [ \"$COMP_CWORD\" -eq 2 ]; then\n"
         "    words='" +
         actions +
         "'\n"
         "  else\n"
         "    case $previous in\n"
         "      " +
         fileOptions +
         ")\n"
         "        # A value: file names, as bash offers them anyway.\n"
         "        return ;;\n"
         "    esac\n"
         "    [ \"$subcommand\" = server ] && subcommand=\"server ${COMP_WORDS[2]}\"\n"
         "    case $subcommand in\n" +
         cases +
         "    *) return ;;\n"
         "    esac\n"
         "    # Arguments are names and files: only words that start an option complete.\n"
         "    [[ $current == -* ]] || return\n"
         "  fi\n"
         "  mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$current\")\n"
         "}\n"
         "complete -o default -F _quillet quillet\n";
}

}  // namespace quillet::cli
