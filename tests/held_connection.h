// A cursor connection held by another process: the connection_holder program, started with
// a connect text, reporting "ready" and later the code that ended its connection.
#ifndef QUILLET_TESTS_HELD_CONNECTION_H
#define QUILLET_TESTS_HELD_CONNECTION_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

class HeldConnection {
 public:
  explicit HeldConnection(const std::string& connect) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      execl(CONNECTION_HOLDER, CONNECTION_HOLDER, connect.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeEnds[1]);
    output_ = fdopen(pipeEnds[0], "r");
  }
  ~HeldConnection() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (output_ != nullptr) fclose(output_);
  }
  HeldConnection(const HeldConnection&) = delete;
  HeldConnection& operator=(const HeldConnection&) = delete;

  // The next line the holder prints: "ready", a return code, or "" at its end.
  std::string NextLine() {
    char line[64] = {};
    if (output_ == nullptr || fgets(line, sizeof line, output_) == nullptr) return "";
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  // Ends the holder as a crash would: no disconnect.
  void Crash() {
    kill(pid_, SIGKILL);
    Wait();
  }
  // The exit status, after the holder ended by itself or was crashed.
  int Wait() {
    int status = -1;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
    return status;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

#endif  // QUILLET_TESTS_HELD_CONNECTION_H
