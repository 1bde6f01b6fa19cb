// What counts under a snapshot root: only folders and files this user alone could have put
// there. The run and every subcommand that reads the root apply these same checks, so that a
// generation, manifest or journal another user planted in a shared root is never reported,
// restored, kept or deleted as this user's.
#ifndef QUILLET_CLI_PLAN_TRUSTED_FOLDERS_H
#define QUILLET_CLI_PLAN_TRUSTED_FOLDERS_H

#include <filesystem>
#include <string>
#include <vector>

#include "generation.h"
#include "plan_file.h"

namespace quillet::cli::plan {

// A root whose entries another user may rename (theirs, or one that group or others may
// write and that is not sticky), or that lies in or is reached through such a folder or
// another user's link: they could put a link in place of a server's folder, or of the root,
// between a check and a delete. Empty, or why with what to do about it. Once it holds, the
// plan's root is the path the system resolves, so nothing later follows a link again.
std::string SharedRootProblem(Plan& plan);

// Reads the plan file unless another user could change it, or reach it through a folder or link
// of theirs: the plan decides what a run deletes and which password files it reads. Empty, or
// why not.
std::string ReadTrustedPlanFile(const std::filesystem::path& file, std::string& text);

// A root that is the stand-in's folder of servers or lies inside it, where generations would
// lie among the servers' catalogues and databases. Empty too when there is no stand-in.
std::string StandinRootProblem(const Plan& plan);

// The server's folder, and below it the database's when one is named, are this user's alone
// or not there; empty, or why not.
std::string DatabaseFolderProblem(const std::filesystem::path& root, const std::string& server,
                                  const std::string& database = "");

// A database's generations that count, and why the others were left out.
struct TrustedGenerations {
  std::vector<Generation> generations;
  std::vector<std::string> refused;
};
TrustedGenerations ListTrustedGenerations(const std::filesystem::path& root,
                                          const std::string& server, const std::string& database);

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_TRUSTED_FOLDERS_H
