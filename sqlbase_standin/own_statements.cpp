#include "own_statements.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace standin {
namespace {

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The text's words in upper case, up to a ";" that only blanks and comments follow; false when
// anything else is in it (a second statement, a quote, an unclosed comment): then it is none
// of the server's, and SQLite judges it. Never used on GRANT or REVOKE, whose passwords must
// not be copied.
bool UpperWords(const char* text, std::vector<std::string>* words) {
  for (text = SkipBlanksAndComments(text); *text != '\0'; text = SkipBlanksAndComments(text)) {
    if (*text == ';') return *SkipBlanksAndComments(text + 1) == '\0';
    if (!IsWordCharacter(*text)) return false;
    std::string word;
    for (; IsWordCharacter(*text); ++text) {
      word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(*text))));
    }
    words->push_back(word);
  }
  return true;
}

bool StartsWithKeyword(const char* text, const char* keyword) {
  for (; *keyword != '\0'; ++keyword, ++text) {
    if (std::toupper(static_cast<unsigned char>(*text)) != *keyword) return false;
  }
  return !IsWordCharacter(*text);
}

}  // namespace

const char* SkipBlanksAndComments(const char* text) {
  for (;;) {
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    if (text[0] == '-' && text[1] == '-') {
      while (*text != '\0' && *text != '\n') ++text;
    } else if (text[0] == '/' && text[1] == '*') {
      const char* close = std::strstr(text + 2, "*/");
      // A comment that does not end here is SQLite's to judge, or a script window's to complete.
      if (close == nullptr) return text;
      text = close + 2;
    } else {
      return text;
    }
  }
}

OwnStatement OwnStatementOf(const char* text, const char** start) {
  const char* begins = SkipBlanksAndComments(text);
  if (start != nullptr) *start = begins;
  // No SQLite statement starts with either word.
  if (StartsWithKeyword(begins, "GRANT") || StartsWithKeyword(begins, "REVOKE")) {
    return OwnStatement::kUser;
  }
  std::vector<std::string> words;
  if (!UpperWords(begins, &words)) return OwnStatement::kNone;
  using Words = std::vector<std::string>;
  if (words == Words{"UPDATE", "STATISTICS", "ON", "DATABASE"}) {
    return OwnStatement::kUpdateStatistics;
  }
  if (words == Words{"LOCK", "DATABASE"}) return OwnStatement::kLockDatabase;
  if (words == Words{"UNLOCK", "DATABASE"}) return OwnStatement::kUnlockDatabase;
  return OwnStatement::kNone;
}

}  // namespace standin
