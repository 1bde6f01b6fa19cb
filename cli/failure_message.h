// The message of a job that failed: its return code and, where known, what it means.
#ifndef QUILLET_CLI_FAILURE_MESSAGE_H
#define QUILLET_CLI_FAILURE_MESSAGE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::cli {

// meaning: null or empty when the code's meaning is unknown. detail: the server's own words
// on this failure (a message, a path, a broken rule), null or empty when there are none.
std::string FailureMessage(std::string_view subcommand, int32_t code, const char* meaning,
                           const char* detail = nullptr);

// The meaning of Quillet's own results, or null for any other code.
const char* QuilletResultMeaning(int32_t code);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_FAILURE_MESSAGE_H
