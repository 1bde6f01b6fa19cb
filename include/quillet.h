/*
 * Quillet: one-call administration of SQLBase database servers.
 *
 * Every function opens its own connection, does one job, closes the connection and returns
 * 0 on success or the SQLBase client library's 16-bit return code widened with its sign.
 * Texts are NUL-terminated 8-bit strings owned by the caller. The few results of the
 * library's own are listed below; quillet_result_text.h turns them into text.
 */
#ifndef QUILLET_H
#define QUILLET_H

#include <stdint.h>

#if defined(_WIN32)
#define QUILLET_CALL __cdecl
#define QUILLET_API
#else
#define QUILLET_CALL
#define QUILLET_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the library's own. */
#define QUILLET_OK 0
/* ExportCSV: the output file could not be opened. */
#define QUILLET_ERROR_FILE (-1)
/* An argument the library must read itself was null or longer than its fixed room (or, for
   AllSnapShot's root, empty); nothing was sent to the server and nothing was written. From
   AllSnapShot also: the last database that failed was skipped because its name cannot safely
   become its directory, or its directory is a link (or, on Linux, another user's or writable
   by others), or its backup could not be put in place. */
#define QUILLET_ERROR_ARGUMENT (-30001)
/* ExportCSV: the statement selects more than 255 columns; the file was left empty. */
#define QUILLET_ERROR_TOO_MANY_COLUMNS (-30002)
/* ExportCSV: a write to the output file, or its closing, failed (a full disk, for one). The
   export fetched no further row and wrote nothing after the failure, so the file holds at most
   the start of the export, possibly cut inside a row. Commit and disconnect were made as
   usual. */
#define QUILLET_ERROR_FILE_WRITE (-30003)
/* AllSnapShot: another AllSnapShot into the same root directory, in this process or another,
   held root_directory\.quillet.lock for the whole 5 minutes this call waited for it; no
   directory was touched and no backup was made. */
#define QUILLET_ERROR_ROOT_IN_USE (-30004)

/* Room the host supplies for the text results. */
#define QUILLET_DATABASE_LIST_SIZE 1024
#define QUILLET_CONNECTION_LIST_SIZE 14172

/* Server-level jobs. */
QUILLET_API int32_t QUILLET_CALL InstallDB(const char* server, const char* password,
                                           const char* database);
QUILLET_API int32_t QUILLET_CALL DeinstallDB(const char* server, const char* password,
                                             const char* database);
QUILLET_API int32_t QUILLET_CALL CreateDB(const char* server, const char* password,
                                          const char* database);
QUILLET_API int32_t QUILLET_CALL DropDB(const char* server, const char* password,
                                        const char* database);
QUILLET_API int32_t QUILLET_CALL TerminateServer(const char* server, const char* password);
QUILLET_API int32_t QUILLET_CALL KillConnection(const char* server, const char* password,
                                                int32_t process);
/* list: at least QUILLET_DATABASE_LIST_SIZE bytes; receives "name;name;...". */
QUILLET_API int32_t QUILLET_CALL DirDB(const char* server, const char* password, char* list);
/* directory is handed to the server as it is: it is neither created nor emptied. */
QUILLET_API int32_t QUILLET_CALL SnapShot(int32_t flag, const char* server, const char* password,
                                          const char* database, const char* directory);
/* Each database goes into root_directory\name: the backup is made in root_directory\name.partial
   (emptied or created, one level, just before it), and only when it succeeded is it put in
   place by renames: root_directory\name becomes name.prior, name.partial becomes name, and
   name.prior is emptied and removed, so that a complete backup stands under one of those names
   at every moment, a crash included. Before each database, what a stopped run left is settled:
   a name.prior without its name, or beside an empty one, gets that name back; a name.prior
   beside a name that holds files is emptied and removed; beside one that holds only other
   things both stay and the database fails with QUILLET_ERROR_ARGUMENT. A failed backup removes the
   .partial directory and leaves the previous backup as it was. Every database is tried, and the
   last failure is the result. An empty root_directory is refused; on Linux a root_directory that is
   itself a symbolic link is resolved once, links below it are never followed. One run at a time per
   root: the call holds root_directory\.quillet.lock open without sharing for the whole run (the
   file stays afterwards) and waits up to 5 minutes for another run to release it, then gives
   QUILLET_ERROR_ROOT_IN_USE (at once when something other than a regular file stands there). A
   database whose name cannot safely become a directory there (a separator, "..", a Windows device
   name such as NUL or com1.db, a name ending in ".partial" or ".prior", the lock file's name, ...)
   or whose directory is a symbolic link, junction or other reparse point (on Linux also: a
   directory owned by another user or writable by group or others), or where a file stands as name,
   name.prior or name.partial, is skipped, counting as a failure with QUILLET_ERROR_ARGUMENT; so
   does a backup that could not be put in place (a name.prior that could not be removed stands in
   the way), which stays in the .partial directory until the next run. On Linux a root_directory
   that its group or others may write to and that is not sticky is refused with
   QUILLET_ERROR_ARGUMENT before any directory or the lock is touched. */
QUILLET_API int32_t QUILLET_CALL AllSnapShot(const char* server, const char* password,
                                             const char* root_directory);
/* list: at least QUILLET_CONNECTION_LIST_SIZE bytes; receives "%d:%s:%s:%s" lines joined
   by ";". In the database, user and program fields, ';' and bytes below 0x20 and 0x7F are
   shown as '_', and so is ':' in the database and user fields. */
QUILLET_API int32_t QUILLET_CALL ListConnections(const char* server, const char* password,
                                                 char* list);
/* database: "" kills the processes of every database. */
QUILLET_API int32_t QUILLET_CALL KillAllConnections(const char* server, const char* password,
                                                    const char* database);

/* Database-level jobs. */
QUILLET_API int32_t QUILLET_CALL UpdateStats(const char* database, const char* user,
                                             const char* password);
QUILLET_API int32_t QUILLET_CALL ReleaseLog(const char* database, const char* user,
                                            const char* password);
/* Load and ReLoad: a commit that fails after a successful load is the result (the load was
   rolled back), over a failed lock's code in ReLoad. */
QUILLET_API int32_t QUILLET_CALL Load(const char* database, const char* user, const char* password,
                                      const char* command);
QUILLET_API int32_t QUILLET_CALL Unload(const char* database, const char* user,
                                        const char* password, const char* command);
QUILLET_API int32_t QUILLET_CALL ReLoad(const char* database, const char* user,
                                        const char* password, const char* script_file);
QUILLET_API int32_t QUILLET_CALL ExportCSV(const char* database, const char* user,
                                           const char* password, const char* statement,
                                           const char* output_file);

#ifdef __cplusplus
}
#endif

#endif /* QUILLET_H */
