#include "handle_table.h"

#include <pthread.h>

#include <mutex>
#include <utility>

namespace standin {
namespace {

struct Slot {
  std::unique_ptr<ServerSession> server;
  std::unique_ptr<Cursor> cursor;
};

std::mutex tableMutex;
Slot table[kMaxHandles];
// Handles go round, so that a handle just closed is not at once someone else's.
uint16_t lastHandle = 0;

// A forked child has no connections of its own: the parent's are forgotten there, never closed,
// since closing them would take the parent's connections out of the registry and could fold
// or remove logs the parent still writes.
void ForgetInChild() {
  for (Slot& slot : table) {
    (void)slot.server.release();
    (void)slot.cursor.release();
  }
  tableMutex.unlock();
}

uint16_t Add(std::unique_ptr<ServerSession> server, std::unique_ptr<Cursor> cursor) {
  static std::once_flag forkSafe;
  std::call_once(forkSafe, [] {
    pthread_atfork([] { tableMutex.lock(); }, [] { tableMutex.unlock(); }, ForgetInChild);
  });
  std::lock_guard<std::mutex> lock(tableMutex);
  for (uint16_t i = 0; i < kMaxHandles; ++i) {
    const auto index = static_cast<uint16_t>((lastHandle + i) % kMaxHandles);
    Slot& slot = table[index];
    if (slot.server == nullptr && slot.cursor == nullptr) {
      slot.server = std::move(server);
      slot.cursor = std::move(cursor);
      lastHandle = static_cast<uint16_t>(index + 1);
      return static_cast<uint16_t>(index + 1);
    }
  }
  return 0;
}

Slot* SlotOf(uint16_t handle) {
  return handle == 0 || handle > kMaxHandles ? nullptr : &table[handle - 1];
}

}  // namespace

uint16_t AddServer(std::unique_ptr<ServerSession> session) {
  return Add(std::move(session), nullptr);
}

uint16_t AddCursor(std::unique_ptr<Cursor> cursor) { return Add(nullptr, std::move(cursor)); }

ServerSession* FindServer(uint16_t handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  Slot* slot = SlotOf(handle);
  return slot == nullptr ? nullptr : slot->server.get();
}

Cursor* FindCursor(uint16_t handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  Slot* slot = SlotOf(handle);
  return slot == nullptr ? nullptr : slot->cursor.get();
}

ServerSession* FindServerOfThisThread(const std::string& server) {
  std::lock_guard<std::mutex> lock(tableMutex);
  for (Slot& slot : table) {
    if (slot.server != nullptr && slot.server->Server() == server &&
        slot.server->OpenedByThisThread()) {
      return slot.server.get();
    }
  }
  return nullptr;
}

std::unique_ptr<ServerSession> TakeServer(uint16_t handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  Slot* slot = SlotOf(handle);
  return slot == nullptr ? nullptr : std::move(slot->server);
}

std::unique_ptr<Cursor> TakeCursor(uint16_t handle) {
  std::lock_guard<std::mutex> lock(tableMutex);
  Slot* slot = SlotOf(handle);
  return slot == nullptr ? nullptr : std::move(slot->cursor);
}

}  // namespace standin
