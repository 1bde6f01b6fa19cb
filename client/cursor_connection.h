// The connection to one database as one user, through its single cursor.
#ifndef QUILLET_CLIENT_CURSOR_CONNECTION_H
#define QUILLET_CLIENT_CURSOR_CONNECTION_H

#include <cstdint>

#include "connect_text.h"
#include "sql_object.h"

namespace quillet {

// Room for any column name the client library can report: its length travels in 8 bits.
constexpr int kColumnNameSize = 256;

class CursorConnection : public SqlObject {
 public:
  CursorConnection() : SqlObject("Cursor") { open_ = 0; }
  // Closes the connection if it is still open.
  ~CursorConnection() {
    Disconnect();
    open_ = 0;
  }

  // Mode 0 opens with CursorConnect, any other mode with CursorConnectOtherMode. Texts that are
  // null or together longer than ConnectText::kMaxLoginLength are refused with
  // QUILLET_ERROR_ARGUMENT in the return code, before any call.
  bool Connect(const char* database, const char* user, const char* password, int32_t mode);
  // Closes an open connection; with nothing open it calls nothing and succeeds.
  bool Disconnect();

  bool SelectBuffer(int32_t column, char* buffer, int32_t length);
  bool CompileAndExecute(const char* sql);
  bool Execute();
  // False at the end of the rows (return code 1) and on any error.
  bool Next();
  bool Commit();
  bool Load(const char* command);
  bool GetNoRows(int32_t* count);
  bool Unload(const char* command);
  bool GetNoSelectItems(int32_t* count);
  // On success the name is NUL-terminated at the reported name length.
  bool DescribeSelectItem(int32_t column, int32_t* type, int32_t* length,
                          char (&name)[kColumnNameSize]);
  bool ReleaseLog();

 private:
  bool Open(ConnectText& text, int32_t mode);
  bool ApplySetup();
  bool SetParameter(int32_t parameter, int32_t value);
};

}  // namespace quillet

#endif  // QUILLET_CLIENT_CURSOR_CONNECTION_H
