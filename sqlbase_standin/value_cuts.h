// Values longer than the length a host bound them with: where a fetch cuts them, and how many
// it cut in each column, for hosts that tell their users (standin_cut_values).
#ifndef QUILLET_SQLBASE_STANDIN_VALUE_CUTS_H
#define QUILLET_SQLBASE_STANDIN_VALUE_CUTS_H

#include <sqlite3.h>

#include <cstddef>

namespace standin {

// Column names are cut to this many bytes, the longest name a caller must have room for.
constexpr std::size_t kMaxColumnName = 18;

// How many of the text's size bytes fit in room: all when they do, else room, or fewer when the
// text is UTF-8 and room would end it inside a character (text that is not is cut as bytes).
std::size_t Utf8Cut(const char* text, std::size_t size, std::size_t room);

// How many of the value's size bytes, more than room, a fetch copies: room, or fewer when the
// value is UTF-8 and room would end it inside a character. Counts the cut for the statement's
// column (from 0) on the calling thread.
std::size_t CutValue(sqlite3_stmt* statement, int column, const char* value, std::size_t size,
                     std::size_t room);

// The statement is about to run (again): its fetches count afresh.
void ForgetCuts();

// How many bytes of the column's name (from 0) its heading shows: the name cut to
// kMaxColumnName between UTF-8 characters. A cut name is kept, for standin_cut_name.
std::size_t HeadingName(int column, const char* name);

// A new statement was compiled: the names of the last one are gone.
void ForgetNames();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_VALUE_CUTS_H
