#include "failure_message.h"

#include "quillet.h"

namespace quillet::cli {

std::string FailureMessage(std::string_view subcommand, int32_t code, const char* meaning,
                           const char* detail) {
  std::string message =
      "quillet " + std::string(subcommand) + ": failed with return code " + std::to_string(code);
  if (meaning != nullptr && *meaning != '\0') message += " (" + std::string(meaning) + ")";
  if (detail != nullptr && *detail != '\0') message += ": " + std::string(detail);
  return message + "\n";
}

const char* QuilletResultMeaning(int32_t code) {
  switch (code) {
    case QUILLET_ERROR_FILE:
      return "the output file could not be opened";
    case QUILLET_ERROR_ARGUMENT:
      return "an argument is missing or too long for the library; from all-snapshot: a "
             "database whose name cannot be a directory was skipped";
    case QUILLET_ERROR_TOO_MANY_COLUMNS:
      return "the statement selects more than 255 columns";
    default:
      return nullptr;
  }
}

}  // namespace quillet::cli
