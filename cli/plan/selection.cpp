#include "selection.h"

#include <algorithm>
#include <cctype>

namespace quillet::cli::plan {
namespace {

bool SameLetter(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view name) {
  // The classic backtracking match: the last "*" takes one more character on a mismatch.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || SameLetter(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Selection Select(const ServerPlan& server, const std::vector<std::string>& databases) {
  Selection selection;
  const bool anyInclude = std::any_of(server.databases.begin(), server.databases.end(),
                                      [](const SelectionTerm& term) { return !term.exclude; });
  for (const SelectionTerm& term : server.databases) {
    const bool matched = std::any_of(databases.begin(), databases.end(), [&](const auto& name) {
      return GlobMatches(term.pattern, name);
    });
    if (!matched && server.strict) {
      selection.errors.push_back(term.where + ": \"" + std::string(term.exclude ? "!" : "") +
                                 term.pattern + "\" matches no database of server " +
                                 server.name + " (it has: " +
                                 (databases.empty() ? std::string("none") : [&] {
                                   std::string names;
                                   for (const auto& name : databases) {
                                     names += (names.empty() ? "" : ", ") + name;
                                   }
                                   return names;
                                 }()) +
                                 "); set strict = false to allow it");
    }
  }
  for (const std::string& name : databases) {
    bool chosen = !anyInclude;
    for (const SelectionTerm& term : server.databases) {
      if (!GlobMatches(term.pattern, name)) continue;
      chosen = !term.exclude;
      if (term.exclude) break;
    }
    if (chosen) selection.databases.push_back(name);
  }
  if (selection.databases.empty() && selection.errors.empty()) {
    selection.errors.push_back(server.databasesWhere + ": the terms select no database of server " +
                               server.name);
  }
  return selection;
}

}  // namespace quillet::cli::plan
