// The statements the stand-in server runs itself, never handing them to SQLite: told apart in
// one place, so that what a connection runs as its own and what a host is told would change
// the database (standin_statement_kind) can never differ.
#ifndef QUILLET_SQLBASE_STANDIN_OWN_STATEMENTS_H
#define QUILLET_SQLBASE_STANDIN_OWN_STATEMENTS_H

namespace standin {

enum class OwnStatement {
  kNone,  // SQLite's to prepare
  kUser,  // GRANT ... or REVOKE ..., read by user_statements.h, of whatever form
  kUpdateStatistics,
  kLockDatabase,
  kUnlockDatabase,
};

// Which of them text is: its words in any case, with any blanks and SQL comments before,
// between and after them, and a closing ";". start, when not null, is set to where the
// statement begins past the blanks and comments before it.
OwnStatement OwnStatementOf(const char* text, const char** start = nullptr);

// Whether a pragma (as an authorizer names it, with its argument or null) only reads: the ones
// a query may run, as a statement or as a pragma_* table-valued function. Any other may write
// (optimize runs ANALYZE, wal_checkpoint and incremental_vacuum change the file).
bool IsReadingPragma(const char* name, const char* argument);

// Past blanks and complete SQL comments ("--" to the line's end, "/* */").
const char* SkipBlanksAndComments(const char* text);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_OWN_STATEMENTS_H
