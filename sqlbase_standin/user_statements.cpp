#include "user_statements.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "last_message.h"
#include "own_statements.h"
#include "password_hash.h"
#include "standin_admin.h"
#include "standin_paths.h"

namespace standin {
namespace {

constexpr const char* kForms =
    "the stand-in takes GRANT CONNECT TO USER IDENTIFIED BY PASSWORD and REVOKE CONNECT FROM "
    "USER, the password one word without \";\"";

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsKeyword(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (Upper(word[i]) != keyword[i]) return false;
  }
  return true;
}

}  // namespace

UserChange::~UserChange() { Wipe(password); }

const char* UserStatementStart(const char* text) {
  const char* start = nullptr;
  return OwnStatementOf(text, &start) == OwnStatement::kUser ? start : nullptr;
}

int16_t ReadUserStatement(const char* start, const char* end, const std::string& where,
                          UserChange* change) {
  // Views into the text only: no copy of the password but the change's own.
  std::vector<std::string_view> words;
  for (const char* at = start; at < end;) {
    while (at < end && IsBlank(*at)) ++at;
    const char* word = at;
    while (at < end && !IsBlank(*at)) ++at;
    if (at > word) words.emplace_back(word, static_cast<std::size_t>(at - word));
  }
  if (!words.empty() && words.back().back() == ';') {
    words.back().remove_suffix(1);
    if (words.back().empty()) words.pop_back();
  }
  const bool grant = words.size() == 7 && IsKeyword(words[0], "GRANT") &&
                     IsKeyword(words[1], "CONNECT") && IsKeyword(words[2], "TO") &&
                     IsKeyword(words[4], "IDENTIFIED") && IsKeyword(words[5], "BY") &&
                     words[6].find(';') == std::string_view::npos;
  const bool revoke = words.size() == 4 && IsKeyword(words[0], "REVOKE") &&
                      IsKeyword(words[1], "CONNECT") && IsKeyword(words[2], "FROM");
  if (!grant && !revoke) return Report(STANDIN_SQL_ERROR, std::string(kForms) + where);
  std::string user(words[3]);
  if (!IsUserName(user.c_str())) {
    return Report(STANDIN_BAD_NAME, UserNameRule(user.c_str()) + where);
  }
  // A host's login text holds database, user and password in 128 bytes with two slashes and a
  // NUL: a longer password would shut every host out, its own included.
  constexpr std::size_t kMaxPassword = 128 - 3 - kMaxDatabaseName - kMaxUserName;
  if (grant && words[6].size() > kMaxPassword) {
    return Report(STANDIN_SQL_ERROR, "a password has at most " + std::to_string(kMaxPassword) +
                                         " characters, so that every host's login carries it" +
                                         where);
  }
  for (char& c : user) c = Upper(c);
  change->revoke = revoke;
  change->user = user;
  if (grant) change->password.assign(words[6].data(), words[6].size());
  return 0;
}

}  // namespace standin
