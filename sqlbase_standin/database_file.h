// A database file and the write-ahead log beside it, as the server's own jobs handle them
// outside any connection: what may be taken up, what must be folded in before the file is
// given out, and when nobody can write to it any more.
#ifndef QUILLET_SQLBASE_STANDIN_DATABASE_FILE_H
#define QUILLET_SQLBASE_STANDIN_DATABASE_FILE_H

#include <cstdint>
#include <string>

namespace standin {

// Before a file is taken up (created or installed): a log beside it that holds anything would
// be replayed over it, and nothing says it is that file's own (a crashed client's, left when the
// file was replaced by a copy). STANDIN_FILE_ERROR, naming it, when one is there; an empty log
// and a stale index are removed.
int16_t CheckNoForeignLog(const std::string& path);

// Before a file is given out (deinstalled): its log is folded into it and removed with its
// index, so that the file is whole on its own and no log outlives it. STANDIN_DATABASE_IN_USE
// when a reader keeps part of the log.
int16_t FoldLogIn(const std::string& path);

// Waits, up to 10 seconds, for a writer that holds the file's write lock to finish, then folds
// the log in as far as readers allow; false when the writer had not finished by then (it may
// still commit). A writer that comes later cannot commit, for every commit checks its server's
// state once it holds the lock.
bool WaitOutWriters(const std::string& path);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_DATABASE_FILE_H
