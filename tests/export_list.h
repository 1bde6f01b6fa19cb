// The exports as the export table lists them, for the tests that go through every one: their
// own tables describe each export once, and ExpectOneRowPerExport holds them to this list.
#ifndef QUILLET_TESTS_EXPORT_LIST_H
#define QUILLET_TESTS_EXPORT_LIST_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "exports/quillet_exports.h"

template <typename Function>
struct PointerParameters;
template <typename... Parameters>
struct PointerParameters<int32_t(Parameters...)> {
  static constexpr std::size_t kCount = (std::size_t{0} + ... + std::is_pointer_v<Parameters>);
};

struct ListedExport {
  const char* name;
  int ordinal;
  std::size_t pointerParameters;
};

constexpr ListedExport kListedExports[] = {
#define QUILLET_LISTED(name, ordinal, parameters, folder) \
  {#name, ordinal,                                        \
   PointerParameters<int32_t(                             \
       QUILLET_EACH_PARAMETER(QUILLET_PARAMETER_TYPE, parameters))>::kCount},
    QUILLET_EXPORTS(QUILLET_LISTED)
#undef QUILLET_LISTED
};

// Rows: a table whose rows have a `name`. Each listed export has exactly one row, and no row
// names anything else.
template <typename Rows>
void ExpectOneRowPerExport(const Rows& rows) {
  for (const ListedExport& listed : kListedExports) {
    EXPECT_EQ(std::count_if(std::begin(rows), std::end(rows),
                            [&](const auto& row) { return std::string(row.name) == listed.name; }),
              1)
        << listed.name;
  }
  EXPECT_EQ(std::size(rows), std::size(kListedExports));
}

#endif  // QUILLET_TESTS_EXPORT_LIST_H
