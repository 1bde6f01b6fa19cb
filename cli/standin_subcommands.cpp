#include "standin_subcommands.h"

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

SubcommandTable StandinSubcommands() {
  return {
      {"server create", "SERVER", "create a stand-in server, running",
       "Creates the stand-in server SERVER with a password, in the running state, in the "
       "folder that 'quillet server root' prints.",
       1, 1, Credential::kNewServer, Listing::kNone, kOptionPasswordFile, nullptr, Create},
      {"server start", "SERVER", "start a terminated stand-in server",
       "Puts the terminated stand-in server SERVER back in the running state.", 1, 1,
       Credential::kNone, Listing::kNone, 0, nullptr, Start},
      {"server status", "SERVER", "print whether a stand-in server runs",
       "Prints \"running\" or \"terminated\" for the stand-in server SERVER.", 1, 1,
       Credential::kNone, Listing::kText, 0, nullptr, State},
      {"server root", "", "print the folder that holds the stand-in servers",
       "Prints the folder that holds the stand-in servers: $QUILLET_STANDIN_ROOT when set, "
       "else the stand-in's default.",
       0, 0, Credential::kNone, Listing::kText, 0, nullptr, Root},
  };
}

}  // namespace quillet::cli
