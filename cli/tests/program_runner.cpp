#include "program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace quillet::cli::testing {
namespace {

// In the child: applies the environment changes and replaces itself with the program.
[[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& arguments,
                       const EnvironmentChanges& environment) {
  for (const auto& [name, value] : environment) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int StatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

bool ReadSome(int fd, std::string& into) {
  char buffer[4096];
  const ssize_t count = read(fd, buffer, sizeof buffer);
  if (count <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(count));
  return true;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const EnvironmentChanges& environment, const std::string& inputFile) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const int input = open(inputFile.c_str(), O_RDONLY);
    dup2(input, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    close(outPipe[0]);
    close(errPipe[0]);
    Exec(program, arguments, environment);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  ProgramRun run;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && fds[i].revents != 0 &&
          !ReadSome(fds[i].fd, i == 0 ? run.out : run.err)) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int waitStatus = 0;
  waitpid(child, &waitStatus, 0);
  run.status = StatusOf(waitStatus);
  return run;
}

ProgramRun RunOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                         const EnvironmentChanges& environment,
                         const std::vector<std::pair<std::string, std::string>>& dialogue) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return {};
  if (child == 0) Exec(program, arguments, environment);
  ProgramRun run;
  std::size_t next = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  pollfd fd{terminal, POLLIN, 0};
  while (std::chrono::steady_clock::now() < deadline) {
    if (next < dialogue.size() && run.out.find(dialogue[next].first) != std::string::npos) {
      const std::string line = dialogue[next].second + "\n";
      if (write(terminal, line.data(), line.size()) < 0) break;
      ++next;
    }
    if (poll(&fd, 1, 100) > 0 && !ReadSome(terminal, run.out)) break;
  }
  close(terminal);
  int waitStatus = 0;
  waitpid(child, &waitStatus, 0);
  run.status = StatusOf(waitStatus);
  return run;
}

int StartInBackground(const std::string& program, const std::vector<std::string>& arguments,
                      const EnvironmentChanges& environment, const std::string& outputFile) {
  const pid_t child = fork();
  if (child == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(devNull, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(output, STDERR_FILENO);
    Exec(program, arguments, environment);
  }
  return child;
}

int WaitFor(int process, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    int waitStatus = 0;
    if (waitpid(process, &waitStatus, WNOHANG) == process) return StatusOf(waitStatus);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(process, SIGKILL);
  waitpid(process, nullptr, 0);
  return -1;
}

}  // namespace quillet::cli::testing
