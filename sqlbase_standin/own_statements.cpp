#include "own_statements.h"

#include <sqlite3.h>

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

bool IsReadingPragma(const char* name, const char* argument) {
  if (name == nullptr) return false;
  // Their argument names a table, an index or a limit: they read whatever it is.
  static const char* const kAlwaysReading[] = {
      "table_info",      "table_xinfo", "table_list",       "index_info",
      "index_xinfo",     "index_list",  "foreign_key_list", "foreign_key_check",
      "integrity_check", "quick_check", "collation_list",   "database_list",
      "function_list",   "module_list", "pragma_list",      "compile_options"};
  // With an argument they set what they would read.
  static const char* const kReadingBare[] = {"user_version",
                                             "application_id",
                                             "schema_version",
                                             "data_version",
                                             "freelist_count",
                                             "page_count",
                                             "page_size",
                                             "max_page_count",
                                             "encoding",
                                             "auto_vacuum",
                                             "journal_mode",
                                             "foreign_keys",
                                             "cache_size",
                                             "synchronous",
                                             "busy_timeout",
                                             "locking_mode",
                                             "temp_store",
                                             "wal_autocheckpoint",
                                             "read_uncommitted",
                                             "secure_delete",
                                             "recursive_triggers",
                                             "query_only",
                                             "automatic_index",
                                             "defer_foreign_keys",
                                             "ignore_check_constraints",
                                             "cell_size_check",
                                             "legacy_alter_table",
                                             "trusted_schema",
                                             "journal_size_limit",
                                             "mmap_size",
                                             "threads",
                                             "analysis_limit",
                                             "soft_heap_limit",
                                             "hard_heap_limit",
                                             "cache_spill",
                                             "fullfsync",
                                             "checkpoint_fullfsync",
                                             "reverse_unordered_selects",
                                             "case_sensitive_like",
                                             "count_changes",
                                             "full_column_names",
                                             "short_column_names",
                                             "empty_result_callbacks"};
  for (const char* reading : kAlwaysReading) {
    if (sqlite3_stricmp(name, reading) == 0) return true;
  }
  if (argument != nullptr) return false;
  for (const char* reading : kReadingBare) {
    if (sqlite3_stricmp(name, reading) == 0) return true;
  }
  return false;
}

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
