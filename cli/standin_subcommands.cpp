#include "standin_subcommands.h"

#include <string>
#include <string_view>

#include "standin_admin_api.h"

namespace quillet::cli {
namespace {

const StandinAdminApi* Api(JobResult& result) {
  const StandinAdminApi* api = FindStandinAdminApi();
  if (api == nullptr) {
    result.problem =
        "the client library that libquillet.so loaded (libsqlwntm.so) is not the stand-in "
        "server, so there are no stand-in servers to manage";
  }
  return api;
}

JobResult Create(const Invocation& invocation) {
  JobResult result;
  if (const StandinAdminApi* api = Api(result)) {
    result.code = api->create(invocation.arguments[0].c_str(), invocation.password.c_str());
  }
  return result;
}

JobResult Start(const Invocation& invocation) {
  JobResult result;
  if (const StandinAdminApi* api = Api(result)) {
    result.code = api->start(invocation.arguments[0].c_str());
  }
  return result;
}

JobResult State(const Invocation& invocation) {
  JobResult result;
  if (const StandinAdminApi* api = Api(result)) {
    int32_t running = 0;
    result.code = api->state(invocation.arguments[0].c_str(), &running);
    result.text = running != 0 ? "running" : "terminated";
    // As a service manager says it: only a running server is a success.
    result.status = running != 0 ? 0 : 3;
  }
  return result;
}

JobResult ListServers(const Invocation&) {
  JobResult result;
  if (const StandinAdminApi* api = Api(result)) {
    const char* names = api->list();
    std::string text;
    for (std::string_view rest = names != nullptr ? names : ""; !rest.empty();) {
      const std::size_t end = rest.find('\n');
      const std::string name(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      int32_t running = 0;
      const int16_t code = api->state(name.c_str(), &running);
      text += name + "\t" +
              (code != 0      ? "unreadable"
               : running != 0 ? "running"
                              : "terminated") +
              "\n";
    }
    if (!text.empty()) text.pop_back();
    result.text = text;
  }
  return result;
}

JobResult Root(const Invocation&) {
  JobResult result;
  if (const StandinAdminApi* api = Api(result)) {
    const char* root = api->root();
    result.text = root != nullptr ? root : "";
  }
  return result;
}

}  // namespace

void AddStandinSubcommands(CommandLine& commandLine) {
  commandLine.AddGroup("server", "Stand-in servers on this machine");
  commandLine.Add(Subcommand("server create", "SERVER", "create a stand-in server, running")
                      .Describe("Creates the stand-in server SERVER with a password, in the "
                                "running state, in the folder that 'quillet server root' prints.")
                      .As(Credential::kNewServer)
                      .Runs("standin_server_create", Create)
                      .Example("QUILLET_SERVER_PASSWORD=secret quillet server create ACME"));
  commandLine.Add(
      Subcommand("server start", "SERVER", "start a terminated stand-in server")
          .Describe("Puts the terminated stand-in server SERVER back in the running state.")
          .Runs("standin_server_start", Start)
          .Example("quillet server start ACME"));
  commandLine.Add(Subcommand("server status", "SERVER", "print whether a stand-in server runs")
                      .Describe("Prints \"running\" or \"terminated\" for the stand-in server "
                                "SERVER, and exits with 0 only when it runs: 3 when it is "
                                "terminated, 1 when there is no such server.")
                      .Runs("standin_server_state", State)
                      .Lists(Listing::kText)
                      .Example("quillet server status ACME && echo up"));
  commandLine.Add(Subcommand("server list", "", "list the stand-in servers and their states")
                      .Describe("Lists the stand-in servers in the folder that 'quillet server "
                                "root' prints, one per line: the name, a tab, and \"running\" or "
                                "\"terminated\".")
                      .Runs("standin_server_list", ListServers)
                      .Lists(Listing::kText)
                      .Example("quillet server list"));
  commandLine.Add(Subcommand("server root", "", "print the folder that holds the stand-in servers")
                      .Describe("Prints the folder that holds the stand-in servers: "
                                "$QUILLET_STANDIN_ROOT when set, else the stand-in's default.")
                      .Runs("standin_root", Root)
                      .Lists(Listing::kText)
                      .Example("quillet server root"));
}

}  // namespace quillet::cli
