#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "help_text.h"
#include "printable_text.h"

namespace quillet::cli {
namespace {

constexpr std::string_view kPasswordFile = "--password-file";
constexpr std::string_view kNewPasswordFile = "--new-password-file";
// The program's copies of the subcommands' options, not shown.
constexpr const char* kLeadingOptions = "Before the subcommand";
// Shown after a subcommand's own options.
constexpr const char* kEveryJobsOptions = "Options of every subcommand";
constexpr const char* kServerJobs = "Server jobs (the server's password)";
constexpr const char* kDatabaseJobs = "Database jobs (DATABASE and USER, the user's password)";

// The option's name without any "=value", so that an error message never repeats a value
// that might be a secret.
std::string_view NameOf(std::string_view argument) {
  return argument.substr(0, argument.find('='));
}

// A negative number is a value, not an option (a process number, for one).
bool IsOption(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '-' && !ParseInt32(argument);
}

std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The subcommand a mistyped name most likely meant; empty when none is close.
std::string Nearest(const CLI::App& app, std::string_view name) {
  std::string nearest;
  std::size_t best = 3;
  for (const CLI::App* job : Jobs(app)) {
    const std::string candidate = FullName(*job);
    const std::size_t distance = Distance(name, candidate);
    if (distance < best) {
      best = distance;
      nearest = candidate;
    }
  }
  return nearest;
}

// What a job's usage line has for arguments, in a message.
std::string Expected(const CLI::App& job) {
  const std::string words = ArgumentWords(job);
  return words.empty() ? "no arguments" : words;
}

// A check whose problem CLI11 reports as "--name: problem".
CLI::Validator Refusing(bool (*fine)(const std::string& value), const std::string& problem) {
  return CLI::Validator([fine, problem](std::string& value) { return fine(value) ? "" : problem; },
                        "");
}

// "2nd", naming an argument by its place rather than by its text, which may be a password
// typed where it does not belong.
std::string Ordinal(std::size_t n) {
  const std::size_t last = n % 10;
  const bool teen = n % 100 >= 11 && n % 100 <= 13;
  const char* suffix = teen || last > 3 || last == 0 ? "th"
                       : last == 1                   ? "st"
                       : last == 2                   ? "nd"
                                                     : "rd";
  return std::to_string(n) + suffix;
}

std::vector<const CLI::Option*> Positionals(const CLI::App& job) {
  return job.get_options([](const CLI::Option* option) { return option->get_positional(); });
}

std::size_t Filled(const CLI::App& job) {
  std::size_t filled = 0;
  for (const CLI::Option* positional : Positionals(job))
    if (positional->count() > 0) ++filled;
  return filled;
}

std::string Unexpected(const CLI::App& job, std::size_t place) {
  return "unexpected " + Ordinal(place) + " argument: " + FullName(job) + " takes " + Expected(job);
}

// A word after "--" is never an option; only a long password option's spelling is refused
// there, as no name starts so and it would reach messages that repeat the argument.
bool LooksLikePasswordAfterEnd(std::string_view argument) {
  return argument.substr(0, 2) == "--" && LooksLikePasswordArgument(argument);
}

// CLI11's words for a missing value, a value given to a flag, an option given more than
// once, or a refused value, in the words of the rest of the command line. None of them holds
// the value.
std::string Reworded(const CLI::ParseError& error, bool mismatch) {
  const std::string text = error.what();
  const std::string name = text.substr(0, text.find_first_of(": "));
  const std::string option = name[0] == '-' ? name : (name.size() == 1 ? "-" : "--") + name;
  if (mismatch) {
    // "--format: At Most 1 required but received 2"
    const std::size_t received = text.find("but received ");
    if (text.find(": At Most ") != std::string::npos && received != std::string::npos) {
      const std::string times = text.substr(received + 13);
      return option + " given " + (times == "2" ? "twice" : times + " times");
    }
    const bool flag = text.find("flag override") != std::string::npos;
    return option + (flag ? " takes no value" : " needs a value");
  }
  return option + " " + text.substr(std::min(text.size(), name.size() + 2));
}

}  // namespace

CommandLine::CommandLine() : app_("", "quillet") {
  // So that CLI11's own help, should anything ask for it, is Quillet's.
  app_.formatter_fn([this](const CLI::App* app, const std::string&, CLI::AppFormatMode) {
    return HelpText(*this, *app);
  });
  app_.set_help_flag("-h,--help", "show the help");
  AddEveryJobsOptions(app_);
  app_.add_flag("-V,--version", version_,
                "show the versions of the command line, the library and the client library");
  // A value is never taken for a subcommand's name ("quillet dir-db load"): one subcommand is
  // all there is to a command line.
  app_.require_subcommand(0, 1);
  app_.allow_extras();
  // "quillet help NAME..." is "quillet NAME... --help".
  help_ = app_.add_subcommand("help")->group("")->allow_extras();
  help_->add_option("SUBCOMMAND", helpWords_);
}

void CommandLine::AddEveryJobsOptions(CLI::App& app) {
  app.add_flag("-q,--quiet", options_.quiet, "show no progress and no closing summary")
      ->disable_flag_override()
      ->group(kEveryJobsOptions);
  app.add_flag("-v,--verbose", options_.verbose, "also show the library call and its result")
      ->disable_flag_override()
      ->group(kEveryJobsOptions);
}

void CommandLine::AddGroup(std::string_view name, std::string_view heading) {
  app_.add_subcommand(std::string(name))
      ->group(std::string(heading))
      ->require_subcommand(0, 1)
      ->allow_extras();
}

CLI::App& CommandLine::Add(const Subcommand& subcommand) {
  const std::string name(subcommand.name);
  const std::size_t blank = name.find(' ');
  CLI::App* parent =
      blank == std::string::npos ? &app_ : app_.get_subcommand(name.substr(0, blank));
  CLI::App& job = *parent->add_subcommand(name.substr(blank + 1), std::string(subcommand.summary));
  job.group(parent != &app_                                      ? parent->get_group()
            : subcommand.credential == Credential::kDatabaseUser ? kDatabaseJobs
                                                                 : kServerJobs);
  job.allow_extras();
  job.set_help_flag("-h,--help", "show this help");
  const std::string arguments(subcommand.arguments);
  for (std::size_t at = 0; at < arguments.size();) {
    const std::size_t end = std::min(arguments.find(' ', at), arguments.size());
    const std::string word = arguments.substr(at, end - at);
    const bool optional = word.front() == '[';
    job.add_option(optional ? word.substr(1, word.size() - 2) : word)->required(!optional);
    at = end + 1;
  }

  if (subcommand.credential != Credential::kNone) {
    job.add_option_function<std::string>(
           std::string(kPasswordFile),
           [this](const std::string& file) { options_.passwordFile = file; },
           "read the password from the first line of FILE, which only its owner may read; - "
           "reads standard input")
        ->type_name("FILE");
  }
  if (subcommand.setsPassword) {
    job.add_option_function<std::string>(
           std::string(kNewPasswordFile),
           [this](const std::string& file) { options_.newPasswordFile = file; },
           "read the new password from the first line of FILE, which only its owner may read; - "
           "reads standard input (the line after the current password's, when both come from "
           "it)")
        ->type_name("FILE");
  }
  if (subcommand.credential == Credential::kDatabaseUser) {
    job.add_option_function<std::string>(
           "--server", [this](const std::string& server) { options_.server = server; },
           "the stand-in server that holds DATABASE")
        ->type_name("NAME")
        ->check(Refusing([](const std::string& value) { return !value.empty(); },
                         "needs a server name"));
  }
  if (subcommand.listing == Listing::kDatabases || subcommand.listing == Listing::kConnections) {
    job.add_option_function<std::string>(
           "--format",
           [this](const std::string& format) {
             options_.format = ParseListFormat(format);
             formatGiven_ = true;
           },
           "table (the default), json, csv or raw: the library's text exactly as it returns it")
        ->type_name("FORMAT")
        ->check(
            Refusing([](const std::string& value) { return ParseListFormat(value).has_value(); },
                     "takes table, raw, json or csv"));
    job.add_flag_callback(
           "--raw",
           [this] {
             options_.format = ListFormat::kRaw;
             rawGiven_ = true;
           },
           "the same as --format raw")
        ->disable_flag_override();
  }
  if (subcommand.confirm != nullptr) {
    job.add_flag("-y,--yes", options_.yes, "do not ask for confirmation on a terminal")
        ->disable_flag_override();
  }
  AddEveryJobsOptions(job);
  subcommands_.emplace(&job, subcommand);
  return job;
}

// Options may stand before the subcommand: the program takes a hidden copy of each, whose
// values go to the subcommand's own option once it is known.
void CommandLine::AddLeadingOptions() {
  for (const CLI::App* job : Jobs(app_)) {
    for (const CLI::Option* option : ShownOptions(*job)) {
      if (app_.get_option_no_throw(LongName(*option)) != nullptr) continue;
      // "-y,--yes"
      const std::string names = option->get_name(false, true);
      const bool flag = option->get_items_expected_max() == 0;
      CLI::Option* copy = flag ? app_.add_flag(names) : app_.add_option(names);
      copy->group(kLeadingOptions);
      if (flag) copy->disable_flag_override();
    }
  }
}

std::string CommandLine::Refusal(const CLI::App& app, const std::string& problem) const {
  const std::string name = FullName(app);
  const std::string prefix = name.empty() ? "quillet" : "quillet " + name;
  return prefix + ": " + problem + "\n" + (Find(app) != nullptr ? UsageLine(app) : "") + "Try '" +
         prefix + " --help'.\n";
}

// Why the command line is refused, by what CLI11 left over on the chosen subcommand and on
// the group and program above it; empty when it is not. namesOnly: only for a subcommand that
// is not there, which even a call for help does not pass over.
std::string CommandLine::Problem(const CLI::App& chosen, bool namesOnly) const {
  for (const CLI::App* app = &chosen; app != nullptr; app = app->get_parent()) {
    const bool job = Find(*app) != nullptr;
    for (const std::string& left : app->remaining()) {
      // CLI11 keeps a "--" among what is left when positional arguments follow it.
      if (left == "--") continue;
      const bool word = app == &app_ ? !IsOption(left) : !left.empty() && left[0] != '-';
      if (word && !job) {
        const std::string group = FullName(*app);
        const std::string name =
            (group.empty() ? "" : group + " ") + PrintableWord(left.substr(0, left.find('=')));
        const std::string nearest = Nearest(app_, name);
        return Refusal(app_,
                       "unknown subcommand '" + name + "'" +
                           (nearest.empty() ? "" : "\nDid you mean 'quillet " + nearest + "'?"));
      }
      if (namesOnly) continue;
      if (job && !IsOption(left)) {
        // The first word left over: anything before it was "--" or ended the loop already.
        return Refusal(*app, Unexpected(*app, Filled(*app) + 1));
      }
      if (!job && app != &app_) return Refusal(*app, "expects an ACTION first");
      const std::string option = ShownOptionName(left);
      return Refusal(chosen, app_.get_option_no_throw(option) != nullptr
                                 ? "this subcommand takes no " + option + " option"
                                 : "unknown option " + option);
    }
  }
  return "";
}

// Hands the options that stood before the subcommand to its own, unless it was given its own
// after it; why that cannot be done, or empty.
std::string CommandLine::HandOver(CLI::App& job) {
  for (const CLI::Option* leading : app_.get_options()) {
    const std::string name = LongName(*leading);
    if (leading->count() == 0 || leading == app_.get_help_ptr() || name == "--version") continue;
    CLI::Option* own = job.get_option_no_throw(name);
    if (own == nullptr) return Refusal(job, "this subcommand takes no " + name + " option");
    if (own->count() > 0) continue;
    own->add_result(leading->results());
    try {
      own->run_callback();
    } catch (const CLI::ValidationError& error) {
      return Refusal(job, Reworded(error, false));
    }
  }
  return "";
}

// CLI11 goes back to options once the positional arguments are filled, even after "--": more
// words after it than the job has places left are refused here, by their places.
std::string CommandLine::PastTheEnd(const std::vector<std::string>& arguments, std::size_t end) {
  try {
    app_.parse(std::vector<std::string>(arguments.rend() - static_cast<std::ptrdiff_t>(end),
                                        arguments.rend()));
  } catch (const CLI::ParseError&) {
    // What is wrong before "--" is told by the whole parse.
  }
  CLI::App* chosen = &app_;
  while (!chosen->get_subcommands().empty()) chosen = chosen->get_subcommands().front();
  if (Find(*chosen) == nullptr) return "";
  const std::size_t filled = Filled(*chosen);
  const std::size_t places = Positionals(*chosen).size();
  const std::size_t after = arguments.size() - end - 1;
  if (filled + after <= places) return "";
  return Refusal(*chosen, Unexpected(*chosen, places + 1));
}

ParsedCommand CommandLine::Parse(const std::vector<std::string>& arguments) {
  AddLeadingOptions();
  invocation_ = Invocation{};
  options_ = CommonOptions{};
  version_ = false;
  rawGiven_ = false;
  formatGiven_ = false;
  helpWords_.clear();
  ParsedCommand parsed;
  // Before CLI11 sees any argument, so that nothing of a password reaches a message. The
  // subcommand, as far as it is known, names the message.
  const CLI::App* named = &app_;
  // Every argument is looked at, an option's value too: a password given where no option takes
  // it would still reach a message about the argument it displaced. After "--" every word is
  // a positional argument (a folder "-snap"), and an extra one is named by its place only.
  const std::size_t end = static_cast<std::size_t>(
      std::find(arguments.begin(), arguments.end(), "--") - arguments.begin());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    for (const CLI::App* subcommand : ShownSubcommands(*named)) {
      if (i < end && subcommand->get_name() == arguments[i]) named = subcommand;
    }
    if (i < end ? LooksLikePasswordArgument(arguments[i])
                : LooksLikePasswordAfterEnd(arguments[i])) {
      parsed.error =
          (named == &app_ ? "quillet" : "quillet " + FullName(*named)) +
          ": passwords are never taken on the command line, where other users and the "
          "shell history see them; set QUILLET_SERVER_PASSWORD (server jobs) or "
          "QUILLET_PASSWORD (database jobs), pass --password-file FILE (--new-password-file "
          "FILE for a new one), or type it at the prompt\n";
      return parsed;
    }
  }

  if (end < arguments.size() && Find(*named) != nullptr) {
    parsed.error = PastTheEnd(arguments, end);
    if (!parsed.error.empty()) return parsed;
  }
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  std::string failure;
  bool help = false;
  bool missing = false;
  try {
    app_.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    help = true;
  } catch (const CLI::RequiredError&) {
    missing = true;
  } catch (const CLI::ArgumentMismatch& error) {
    failure = Reworded(error, true);
  } catch (const CLI::ValidationError& error) {
    failure = Reworded(error, false);
  } catch (const CLI::ParseError& error) {
    failure = error.what();
  }
  CLI::App* chosen = &app_;
  while (!chosen->get_subcommands().empty()) chosen = chosen->get_subcommands().front();

  if (chosen == help_) {
    std::vector<std::string> words = helpWords_;
    words.emplace_back("--help");
    return Parse(words);
  }
  parsed.version = version_;
  if (version_) return parsed;
  parsed.error = Problem(*chosen, true);
  if (help && parsed.error.empty()) parsed.help = HelpText(*this, *chosen);
  if (help || !parsed.error.empty()) return parsed;
  parsed.error = failure.empty() ? Problem(*chosen, false) : Refusal(*chosen, failure);
  if (!parsed.error.empty()) return parsed;
  if (chosen == &app_) {
    const bool options =
        !app_.get_options([](const CLI::Option* option) { return option->count() > 0; }).empty();
    parsed.error = std::string("quillet: ") +
                   (options ? "options but no subcommand given" : "no subcommand given") +
                   "\nTry 'quillet --help'.\n";
    return parsed;
  }
  // A group without its action: what it has.
  if (Find(*chosen) == nullptr) {
    parsed.error = HelpText(*this, *chosen);
    return parsed;
  }
  parsed.error = missing ? Refusal(*chosen, "expects " + Expected(*chosen)) : HandOver(*chosen);
  // Whichever came last, one of them would be ignored.
  if (parsed.error.empty() && rawGiven_ && formatGiven_) {
    parsed.error = Refusal(*chosen, "--raw and --format cannot be given together");
  }
  if (!parsed.error.empty()) return parsed;
  parsed.subcommand = Find(*chosen);
  for (const CLI::Option* positional :
       chosen->get_options([](const CLI::Option* option) { return option->get_positional(); })) {
    if (positional->count() > 0) invocation_.arguments.push_back(positional->results().front());
  }
  parsed.prefix = "quillet " + FullName(*chosen);
  parsed.usage = UsageLine(*chosen);
  return parsed;
}

const Subcommand* CommandLine::Find(const CLI::App& app) const {
  const auto found = subcommands_.find(&app);
  return found == subcommands_.end() ? nullptr : &found->second;
}

std::string FullName(const CLI::App& app) {
  if (app.get_parent() == nullptr) return "";
  const std::string above = FullName(*app.get_parent());
  return above.empty() ? app.get_name() : above + " " + app.get_name();
}

std::string OptionNames(const CLI::Option& option) {
  std::string names;
  for (const std::string& letter : option.get_snames()) names += ", -" + letter;
  for (const std::string& word : option.get_lnames()) names += ", --" + word;
  return names.substr(2);
}

std::string LongName(const CLI::Option& option) {
  if (!option.get_lnames().empty()) return "--" + option.get_lnames().front();
  return "-" + option.get_snames().front();
}

std::vector<const CLI::Option*> ShownOptions(const CLI::App& app) {
  std::vector<const CLI::Option*> shown = app.get_options([&app](const CLI::Option* option) {
    return !option->get_positional() && option->get_group() != kLeadingOptions &&
           option != app.get_help_ptr();
  });
  std::stable_partition(shown.begin(), shown.end(), [](const CLI::Option* option) {
    return option->get_group() != kEveryJobsOptions;
  });
  if (app.get_help_ptr() != nullptr) shown.push_back(app.get_help_ptr());
  return shown;
}

std::vector<const CLI::App*> ShownSubcommands(const CLI::App& app) {
  return app.get_subcommands(
      [](const CLI::App* subcommand) { return !subcommand->get_group().empty(); });
}

std::vector<const CLI::App*> Jobs(const CLI::App& app) {
  std::vector<const CLI::App*> jobs;
  for (const CLI::App* subcommand : ShownSubcommands(app)) {
    const std::vector<const CLI::App*> actions = Jobs(*subcommand);
    if (actions.empty()) jobs.push_back(subcommand);
    jobs.insert(jobs.end(), actions.begin(), actions.end());
  }
  // Under their headings, each where its first job was added, as --help lists them: a job added
  // later to an earlier heading stands there in the manual page and the completion too.
  std::vector<std::string> headings;
  for (const CLI::App* job : jobs) {
    if (std::find(headings.begin(), headings.end(), job->get_group()) == headings.end()) {
      headings.push_back(job->get_group());
    }
  }
  const auto rank = [&headings](const CLI::App* job) {
    return std::find(headings.begin(), headings.end(), job->get_group()) - headings.begin();
  };
  std::stable_sort(jobs.begin(), jobs.end(),
                   [&rank](const CLI::App* a, const CLI::App* b) { return rank(a) < rank(b); });
  return jobs;
}

CLI::Validator WholeNumber() {
  return CLI::Validator(
      [](std::string& value) {
        const std::optional<int32_t> number = ParseInt32(value);
        if (!number) return std::string("needs a whole number");
        // In decimal, as CLI11 reads "010" as octal.
        value = std::to_string(*number);
        return std::string();
      },
      "");
}

bool LooksLikePasswordArgument(std::string_view argument) {
  if (NameOf(argument) == kPasswordFile || NameOf(argument) == kNewPasswordFile) return false;
  if (argument.substr(0, 6) == "--pass" || argument.substr(0, 4) == "--pw" ||
      argument.substr(0, 10) == "--new-pass") {
    return true;
  }
  if (argument.size() < 2 || argument[0] != '-' || argument[1] == '-') return false;
  if (argument[1] == 'p') return true;
  // Short flags grouped, "-vqp": the last may be one that takes the next argument.
  for (const char c : argument.substr(1)) {
    if (std::isalpha(static_cast<unsigned char>(c)) == 0) return false;
  }
  return argument.find('p') != std::string_view::npos;
}

std::string ShownOptionName(std::string_view argument) {
  const std::string_view name = NameOf(argument);
  if (name.size() > 2 && name[0] == '-' && name[1] != '-') return std::string(name.substr(0, 2));
  // Up to the first character no option name has ("--token:secret" shows as "--token").
  std::size_t end = 0;
  while (end < name.size() && (std::isalnum(static_cast<unsigned char>(name[end])) != 0 ||
                               name[end] == '-' || name[end] == '_')) {
    ++end;
  }
  return std::string(name.substr(0, end));
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  const std::string copy(text);
  if (copy.empty() || copy.front() == ' ' || copy.front() == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(copy.c_str(), &end, 10);
  if (errno != 0 || end != copy.c_str() + copy.size()) return std::nullopt;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace quillet::cli
