// The server's own statements on the users of a database, which SQLite does not know:
//   GRANT CONNECT TO user IDENTIFIED BY password   adds the user or changes its password,
//   REVOKE CONNECT FROM user                       removes the user.
// Their texts hold passwords, so they are read here and never handed to SQLite, whose
// statement cache and error messages would keep them.
#ifndef QUILLET_SQLBASE_STANDIN_USER_STATEMENTS_H
#define QUILLET_SQLBASE_STANDIN_USER_STATEMENTS_H

#include <cstdint>
#include <string>

namespace standin {

// One statement read: what it changes once its unit commits.
struct UserChange {
  UserChange() = default;
  ~UserChange();
  UserChange(const UserChange&) = delete;
  UserChange& operator=(const UserChange&) = delete;

  bool revoke = false;
  // In upper case, as the catalogue keeps it.
  std::string user;
  // The new password of a grant; wiped with the change.
  std::string password;
};

// Where the user statement that text starts with begins, past blanks and SQL comments; null
// when text starts with anything else. No SQLite statement starts with GRANT or REVOKE.
const char* UserStatementStart(const char* text);

// Reads the statement from start (as UserStatementStart found it) up to end, a closing ";"
// allowed. 0, or the code of the failure with its words and then where (STANDIN_SQL_ERROR for
// another form or a password holding ";", STANDIN_BAD_NAME for a user name the stand-in
// refuses), which never repeat the password.
int16_t ReadUserStatement(const char* start, const char* end, const std::string& where,
                          UserChange* change);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_USER_STATEMENTS_H
