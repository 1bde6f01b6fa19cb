// quillet: the command line over the seventeen exports of libquillet.so or Quillet.dll.
#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app.h"
#include "library_subcommands.h"
#include "plan/plan_subcommands.h"
#include "restore_subcommand.h"
#include "standin_admin_api.h"
#include "standin_subcommands.h"
#include "terminal.h"
#include "version_text.h"

int main(int argc, char** argv) {
  using namespace quillet::cli;
#ifndef _WIN32
  // A core dump would carry the passwords this process reads.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // Past a file size limit a write fails and the export says so, rather than the signal
  // ending the process with its temporary file left behind.
  (void)std::signal(SIGXFSZ, SIG_IGN);
#endif
  CommandLine commandLine;
  AddLibrarySubcommands(commandLine);
  AddRestoreSubcommand(commandLine);
  AddPlanSubcommands(commandLine);
#if !defined(_WIN32)
  // The stand-in server is a Linux library: Windows has no stand-in servers to manage.
  AddStandinSubcommands(commandLine);
#endif

  const Environment environment{
      {[](const char* name) -> const char* { return std::getenv(name); }, InputIsTerminal,
       ReadHiddenLine},
      StandinCodeText,
      StandinLastMessage,
      std::cout,
      std::cerr,
      SelectStandinServer,
      ErrorIsTerminal,
      ReadLine,
      [] { return VersionText(LibraryDescription(), ClientLibraryDescription()); },
  };
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  int status = kExitJobFailed;
  try {
    status = RunQuillet(arguments, commandLine, environment);
  } catch (const std::exception& failure) {
    // A failure nothing nearer caught (a file name the system refuses, say) is the job's
    // failure in words, never an abort outside the documented statuses.
    std::cerr << "quillet: " << failure.what() << "\n";
    return kExitJobFailed;
  }
  std::cout.flush();
  if (!std::cout) {
    // A job that failed has said so already, standard output included.
    if (status == kExitSuccess) std::cerr << "quillet: could not write to standard output\n";
    return kExitJobFailed;
  }
  return status;
}
