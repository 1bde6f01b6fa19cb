#include "value_cuts.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "standin_admin.h"

namespace standin {
namespace {

struct Cuts {
  int64_t total = 0;
  // By column from 0, with the column's name from its first cut.
  std::vector<int64_t> counts;
  std::vector<std::string> names;
};
thread_local Cuts cuts;

// The last compiled statement's cut column names, by column from 0: as the heading shows it,
// and whole; empty where the name was not cut.
struct Names {
  std::vector<std::string> headings;
  std::vector<std::string> names;
};
thread_local Names names;

constexpr bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The bytes of the character a lead byte starts; 0 for a byte no UTF-8 character starts with.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether the bytes are whole UTF-8 characters, from `from` to `to`.
bool IsUtf8(const unsigned char* text, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at < to;) {
    const std::size_t length = SequenceLength(text[at]);
    if (length == 0 || at + length > to) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if (!IsContinuation(text[at + k])) return false;
    }
    at += length;
  }
  return true;
}

}  // namespace

std::size_t Utf8Cut(const char* value, std::size_t size, std::size_t room) {
  if (size <= room) return size;
  const auto* text = reinterpret_cast<const unsigned char*>(value);
  if (!IsContinuation(text[room])) return room;
  std::size_t start = room;
  while (start > 0 && room - start < 3 && IsContinuation(text[start])) --start;
  const std::size_t length = SequenceLength(text[start]);
  if (length == 0 || start + length <= room || start + length > size) return room;
  return IsUtf8(text, 0, start) && IsUtf8(text, start, start + length) ? start : room;
}

std::size_t CutValue(sqlite3_stmt* statement, int column, const char* value, std::size_t size,
                     std::size_t room) {
  const auto index = static_cast<std::size_t>(column);
  if (cuts.counts.size() <= index) {
    cuts.counts.resize(index + 1);
    cuts.names.resize(index + 1);
  }
  if (cuts.counts[index]++ == 0) {
    // As the heading names the column: the file knows no other name.
    const char* name = sqlite3_column_name(statement, column);
    if (name == nullptr) name = "";
    cuts.names[index].assign(name, Utf8Cut(name, std::strlen(name), kMaxColumnName));
  }
  ++cuts.total;
  return Utf8Cut(value, size, room);
}

std::size_t HeadingName(int column, const char* name) {
  const std::size_t size = std::strlen(name);
  const std::size_t shown = Utf8Cut(name, size, kMaxColumnName);
  const auto index = static_cast<std::size_t>(column);
  if (shown < size) {
    if (names.headings.size() <= index) {
      names.headings.resize(index + 1);
      names.names.resize(index + 1);
    }
    names.headings[index].assign(name, shown);
    names.names[index] = name;
  }
  return shown;
}

void ForgetNames() {
  if (!names.headings.empty()) names = Names{};
}

void ForgetCuts() {
  if (cuts.total == 0) return;
  cuts = Cuts{};
}

}  // namespace standin

extern "C" int64_t standin_cut_values(int32_t column, const char** name) {
  using standin::cuts;
  if (name != nullptr) *name = nullptr;
  if (column == 0) return cuts.total;
  const auto index = static_cast<std::size_t>(column) - 1;
  if (column < 0 || index >= cuts.counts.size() || cuts.counts[index] == 0) return 0;
  if (name != nullptr) *name = cuts.names[index].c_str();
  return cuts.counts[index];
}

extern "C" int32_t standin_cut_name(int32_t column, const char** heading, const char** name) {
  using standin::names;
  if (heading != nullptr) *heading = nullptr;
  if (name != nullptr) *name = nullptr;
  const auto index = static_cast<std::size_t>(column) - 1;
  if (column < 1 || index >= names.headings.size() || names.names[index].empty()) return 0;
  if (heading != nullptr) *heading = names.headings[index].c_str();
  if (name != nullptr) *name = names.names[index].c_str();
  return 1;
}
