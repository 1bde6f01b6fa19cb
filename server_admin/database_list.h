// Walking the database list that the client library writes: NUL-ended names, closed by an
// empty name, inside an area of sqlwntm::database_names::kListSize bytes (reply_layouts.h).
#ifndef QUILLET_SERVER_ADMIN_DATABASE_LIST_H
#define QUILLET_SERVER_ADMIN_DATABASE_LIST_H

#include <cstddef>

#include "client/reply_layouts.h"

namespace quillet {

// Calls visit(start, end) for each name in order: the name runs from list[start] to its NUL at
// list[end]. Only names that leave room for the closing empty name inside the area are
// visited, so the walk never leaves it. Returns where the list ends: at its closing empty
// name, or at a name without that room, which the client library may have cut.
template <typename Visit>
std::size_t ForEachDatabaseName(const char* list, Visit visit) {
  constexpr std::size_t kListSize = sqlwntm::database_names::kListSize;
  std::size_t start = 0;
  while (list[start] != '\0') {
    std::size_t end = start;
    while (end < kListSize && list[end] != '\0') ++end;
    if (end + 1 >= kListSize) break;
    visit(start, end);
    start = end + 1;
  }
  return start;
}

}  // namespace quillet

#endif  // QUILLET_SERVER_ADMIN_DATABASE_LIST_H
