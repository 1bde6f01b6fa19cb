#include "failure_message.h"

#include "quillet_result_text.h"

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
  // Success is no failure: only the codes that mean one.
  return code == QUILLET_OK ? nullptr : quillet_result_text(code);
}

}  // namespace quillet::cli
