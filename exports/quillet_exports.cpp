// The library's whole C surface: the seventeen exports of the export table, each handing its
// arguments to its job and its job's result back to the host unchanged.
#include "exports/quillet_exports.h"

#include <cstddef>
#include <string_view>
#include <type_traits>

#include "database_admin/jobs.h"
#include "quillet.h"
#include "server_admin/jobs.h"

namespace {

// Hosts may link by ordinal: 1 to 17, one each, in the names' alphabetical order.
struct TabledExport {
  std::string_view name;
  int ordinal;
};

constexpr TabledExport kTabled[] = {
#define QUILLET_TABLED(name, ordinal, parameters, folder) {#name, ordinal},
    QUILLET_EXPORTS(QUILLET_TABLED)
#undef QUILLET_TABLED
};

constexpr bool OrdinalsFollowTheAlphabet() {
  for (std::size_t i = 0; i < std::size(kTabled); ++i) {
    if (kTabled[i].ordinal != static_cast<int>(i) + 1) return false;
    if (i > 0 && !(kTabled[i - 1].name < kTabled[i].name)) return false;
  }
  return true;
}
static_assert(std::size(kTabled) == 17, "the ABI has seventeen exports");
static_assert(OrdinalsFollowTheAlphabet(), "the ordinals are 1 to 17 in alphabetical order");

// quillet.h declares each export of the table with the table's types. This comes before the
// definitions, so that a declaration missing from quillet.h fails here rather than being made
// by the definition; the configure step finds a declaration the table lacks, and parameters
// whose names or order differ.
template <typename... Parameters>
using ExportPointer = int32_t(QUILLET_CALL*)(Parameters...);
#define QUILLET_CHECK_DECLARATION(name, ordinal, parameters, folder)                             \
  static_assert(                                                                                 \
      std::is_same_v<decltype(&::name),                                                          \
                     ExportPointer<QUILLET_EACH_PARAMETER(QUILLET_PARAMETER_TYPE, parameters)>>, \
      "quillet.h declares " #name " otherwise than exports/quillet_exports.h");
QUILLET_EXPORTS(QUILLET_CHECK_DECLARATION)
#undef QUILLET_CHECK_DECLARATION

}  // namespace

extern "C" {

#define QUILLET_DEFINE_EXPORT(name, ordinal, parameters, folder)                     \
  int32_t QUILLET_CALL name(QUILLET_EACH_PARAMETER(QUILLET_PARAMETER, parameters)) { \
    return quillet::name(QUILLET_EACH_PARAMETER(QUILLET_ARGUMENT, parameters));      \
  }
QUILLET_EXPORTS(QUILLET_DEFINE_EXPORT)
#undef QUILLET_DEFINE_EXPORT

}  // extern "C"
