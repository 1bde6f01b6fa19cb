#include "reference_pages.h"

#include <algorithm>
#include <vector>

#include "help_text.h"

namespace quillet::cli {
namespace {

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

// The long names of the options, after --help, which every subcommand takes.
std::string OptionWords(const CLI::App& app) {
  std::string words = "--help";
  for (const CLI::Option* option : ShownOptions(app)) {
    if (option != app.get_help_ptr() && !option->get_lnames().empty()) {
      words += " " + LongName(*option);
    }
  }
  return words;
}

std::string Words(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

}  // namespace

std::string ManualPage(const CommandLine& commandLine, std::string_view version) {
  const CLI::App& app = commandLine.app();
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
  page += Preformatted(HelpText(commandLine, app));
  page += ".SH SUBCOMMANDS\n";
  for (const CLI::App* job : Jobs(app)) {
    page += ".SS " + FullName(*job) + "\n" + Preformatted(HelpText(commandLine, *job));
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
      ".TP\n"
      ".B QUILLET_STANDIN_ROOT\n"
      "The folder that holds the stand\\-in servers; when it is unset or empty, "
      "$HOME/.quillet\\-standin, or /tmp/quillet\\-standin without HOME.\n"
      ".SH SEE ALSO\n"
      "The README of Quillet, and quillet.h for the library's functions.\n";
  return page;
}

std::string BashCompletion(const CommandLine& commandLine) {
  const CLI::App& app = commandLine.app();
  std::vector<std::string> leading;
  std::vector<std::string> valueOptions;
  std::string groups;
  std::string cases;
  auto addOnce = [](std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  auto addJob = [&](const CLI::App& job) {
    cases += "      '" + FullName(job) + "') words='" + OptionWords(job) + "' ;;\n";
    for (const CLI::Option* option : ShownOptions(job)) {
      if (option == job.get_help_ptr() || option->get_lnames().empty()) continue;
      addOnce(leading, LongName(*option));
      if (option->get_items_expected_max() == 0) continue;
      for (const std::string& word : option->get_lnames()) addOnce(valueOptions, "--" + word);
      for (const std::string& letter : option->get_snames()) addOnce(valueOptions, "-" + letter);
    }
  };
  std::vector<std::string> subcommands;
  for (const CLI::App* subcommand : ShownSubcommands(app)) {
    subcommands.push_back(subcommand->get_name());
    const std::vector<const CLI::App*> actions = ShownSubcommands(*subcommand);
    if (actions.empty()) addJob(*subcommand);
    std::vector<std::string> names;
    for (const CLI::App* action : actions) {
      names.push_back(action->get_name());
      addJob(*action);
    }
    if (!actions.empty()) {
      groups += "    " + subcommand->get_name() + ") group='" + Words(names) + "' ;;\n";
    }
  }
  // The program's own options, then the subcommands' that may stand before them.
  std::vector<std::string> topLevel = {"help", OptionWords(app)};
  const std::vector<const CLI::Option*> own = ShownOptions(app);
  for (const std::string& option : leading) {
    if (std::none_of(own.begin(), own.end(),
                     [&option](const CLI::Option* o) { return LongName(*o) == option; })) {
      topLevel.push_back(option);
    }
  }
  topLevel.insert(topLevel.end(), subcommands.begin(), subcommands.end());
  std::string valuePattern;
  for (const std::string& option : valueOptions) {
    valuePattern += (valuePattern.empty() ? "" : "|") + option;
  }
  // bash splits "--format=json" into "--format", "=" and "json".
  return "# bash completion for quillet, generated from its command line.\n"
         "_quillet() {\n"
         "  local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  local before=${COMP_WORDS[COMP_CWORD-2]} words group= at=1\n"
         "  COMPREPLY=()\n"
         "  # A value: file names and the like, as bash offers them anyway.\n"
         "  [ \"$previous\" = = ] && previous=$before\n"
         "  case $previous in " +
         valuePattern +
         ") return ;; esac\n"
         "  # Options may stand before the subcommand and its action: these are the first words\n"
         "  # that are neither options nor options' values.\n"
         "  local named=()\n"
         "  while [ \"$at\" -lt \"$COMP_CWORD\" ]; do\n"
         "    case ${COMP_WORDS[at]} in\n"
         "      " +
         valuePattern +
         ")\n"
         "        [ \"${COMP_WORDS[at + 1]}\" = = ] && at=$((at + 1))\n"
         "        at=$((at + 1)) ;;\n"
         "      -*) ;;\n"
         "      *) named+=(\"${COMP_WORDS[at]}\") ;;\n"
         "    esac\n"
         "    at=$((at + 1))\n"
         "  done\n"
         "  local subcommand=${named[0]}\n"
         "  case $subcommand in\n" +
         groups +
         "  esac\n"
         "  if [ \"${#named[@]}\" -eq 0 ]; then\n"
         "    words='" +
         Words(topLevel) +
         "'\n"
         "  elif [ -n \"$group\" ] && [ \"${#named[@]}\" -eq 1 ]; then\n"
         "    words=$group\n"
         "  else\n"
         "    [ -n \"$group\" ] && subcommand=\"$subcommand ${named[1]}\"\n"
         "    case $subcommand in\n" +
         cases +
         "      *) return ;;\n"
         "    esac\n"
         "    # Arguments are names and files: only words that start an option complete.\n"
         "    [[ $current == -* ]] || return\n"
         "  fi\n"
         "  mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$current\")\n"
         "}\n"
         "complete -o default -F _quillet quillet\n";
}

}  // namespace quillet::cli
