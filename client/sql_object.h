// The connection record that both connection classes derive from.
#ifndef QUILLET_CLIENT_SQL_OBJECT_H
#define QUILLET_CLIENT_SQL_OBJECT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "operation_names.h"

namespace quillet {

class SqlObject {
 public:
  static constexpr std::size_t kLabelSize = 640;

  SqlObject(const SqlObject&) = delete;
  SqlObject& operator=(const SqlObject&) = delete;

  // The code of the most recent client-library call made by an operation of this object.
  int16_t ReturnCode() const { return returnCode_; }
  // The row of OperationNames of the operation most recently started.
  int32_t LastOperation() const { return operationCode_; }
  const char* Label() const { return label_; }

 protected:
  template <std::size_t N>
  explicit SqlObject(const char (&label)[N]) {
    static_assert(N <= kLabelSize, "label too long for the label field");
    std::memcpy(label_, label, N);
  }
  ~SqlObject() = default;

  // Every operation: record which one it is, make its one call, keep the call's code.
  template <typename Call>
  bool Run(OperationCode operation, Call call) {
    operationCode_ = operation;
    returnCode_ = call();
    return returnCode_ == 0;
  }

  int16_t returnCode_ = 0;
  int32_t operationCode_ = 0;
  char label_[kLabelSize] = {};
  uint16_t handle_ = 0;
  int32_t open_ = 0;
};

// What an export reports for one operation: 0, or the connection's code widened with its sign.
inline int32_t ResultOf(bool succeeded, const SqlObject& connection) {
  return succeeded ? 0 : connection.ReturnCode();
}

}  // namespace quillet

#endif  // QUILLET_CLIENT_SQL_OBJECT_H
