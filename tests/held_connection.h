// A cursor connection held by another process: the examples' hold-connection program, which
// says when it is connected and, once a call on its connection fails, the call's code.
#ifndef QUILLET_TESTS_HELD_CONNECTION_H
#define QUILLET_TESTS_HELD_CONNECTION_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class HeldConnection {
 public:
  explicit HeldConnection(const std::string& database, const std::string& user = "SYSADM",
                          const std::string& password = "SYSADM") {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      setenv("QUILLET_PASSWORD", password.c_str(), 1);
      execl(HOLD_CONNECTION, HOLD_CONNECTION, database.c_str(), user.c_str(),
            static_cast<char*>(nullptr));
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

  // Waits for the holder to say that it is connected.
  bool Connected() { return NextLine().rfind("hold-connection: connected", 0) == 0; }
  // Waits for the holder's connection to end; the code of the call that failed, or -1.
  int EndingCode() {
    const std::string line = NextLine();
    const std::size_t code = line.rfind("return code ");
    return code == std::string::npos ? -1 : std::atoi(line.c_str() + code + 12);
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

 private:
  std::string NextLine() {
    char line[256] = {};
    if (output_ == nullptr || fgets(line, sizeof line, output_) == nullptr) return "";
    return line;
  }

  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

#endif  // QUILLET_TESTS_HELD_CONNECTION_H
