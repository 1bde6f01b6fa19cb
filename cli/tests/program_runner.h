// Runs a program as a user would, and collects what it printed and its exit status.
#ifndef QUILLET_CLI_TESTS_PROGRAM_RUNNER_H
#define QUILLET_CLI_TESTS_PROGRAM_RUNNER_H

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillet::cli::testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Changes to the test's own environment: a value sets the variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Standard input is the file (/dev/null unless given): no terminal.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const EnvironmentChanges& environment,
                      const std::string& inputFile = "/dev/null");

// Standard input, output and error are one new terminal; each line of input is typed when
// the program has printed the text that comes before it in the pair. out holds everything
// the terminal showed.
ProgramRun RunOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentChanges& environment,
                         const std::vector<std::pair<std::string, std::string>>& dialogue);

// Starts a program in the background with its output discarded; returns its process id.
int StartInBackground(const std::string& program, const std::vector<std::string>& arguments,
                      const EnvironmentChanges& environment, const std::string& outputFile);
// Waits for it and returns its exit status, or -1 if it has not ended within the seconds.
int WaitFor(int process, int seconds);

}  // namespace quillet::cli::testing

#endif  // QUILLET_CLI_TESTS_PROGRAM_RUNNER_H
