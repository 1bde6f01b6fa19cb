// The open server and cursor connections of this process, by the 16-bit handles that the
// entry points hand out.
#ifndef QUILLET_SQLBASE_STANDIN_HANDLE_TABLE_H
#define QUILLET_SQLBASE_STANDIN_HANDLE_TABLE_H

#include <cstdint>
#include <memory>
#include <string>

#include "cursor.h"
#include "server_session.h"

namespace standin {

// Open connections of one process at a time; handles are 1 to this number.
constexpr uint16_t kMaxHandles = 1024;

// Takes ownership; 0 when the table is full.
uint16_t AddServer(std::unique_ptr<ServerSession> session);
uint16_t AddCursor(std::unique_ptr<Cursor> cursor);
// Null when the handle is not an open handle of that kind. A handle belongs to the one thread
// that uses it, as in the client library.
ServerSession* FindServer(uint16_t handle);
Cursor* FindCursor(uint16_t handle);
// A server connection that the calling thread opened to this server, if any.
ServerSession* FindServerOfThisThread(const std::string& server);
// Hands the connection back for closing; null when the handle is not of that kind.
std::unique_ptr<ServerSession> TakeServer(uint16_t handle);
std::unique_ptr<Cursor> TakeCursor(uint16_t handle);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_HANDLE_TABLE_H
