// The text that explains the calling thread's last failure, for hosts that show more than a
// return code (see standin_last_message).
#ifndef QUILLET_SQLBASE_STANDIN_LAST_MESSAGE_H
#define QUILLET_SQLBASE_STANDIN_LAST_MESSAGE_H

#include <cstdint>
#include <string>

namespace standin {

// Keeps the message for the code and returns the code, so that a failure reads
// "return Report(STANDIN_FILE_ERROR, ...)".
int16_t Report(int16_t code, std::string message);

// How many reports this thread has made.
uint64_t ReportsMade();

// One entry point's call: a failure that said nothing of its own leaves no words behind, so
// that an earlier failure's with the same code are never taken for its.
template <typename Call>
int16_t Answer(Call call) {
  const uint64_t before = ReportsMade();
  const int16_t code = call();
  // 1 is the end of the rows, not a failure.
  if (code != 0 && code != 1 && ReportsMade() == before) Report(code, "");
  return code;
}

// "path: reason" from errno.
std::string SystemReason(const std::string& path);

// The rules that a refused name broke, in the words of the README.
std::string ServerNameRule(const char* name);
std::string DatabaseNameRule(const char* name);
std::string UserNameRule(const char* name);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_LAST_MESSAGE_H
