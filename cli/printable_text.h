// Text of a user's or a server's on its way to a terminal, with the bytes that would drive the
// terminal (escape sequences, a bell, a title change) shown as "?".
#ifndef QUILLET_CLI_PRINTABLE_TEXT_H
#define QUILLET_CLI_PRINTABLE_TEXT_H

#include <string>
#include <string_view>

namespace quillet::cli {

// A message: its line breaks and tabs stay, every other control character is replaced.
std::string PrintableText(std::string_view text);
// One word in a message, such as an argument: a line break in it is replaced too.
std::string PrintableWord(std::string_view word);

}  // namespace quillet::cli

#endif  // QUILLET_CLI_PRINTABLE_TEXT_H
