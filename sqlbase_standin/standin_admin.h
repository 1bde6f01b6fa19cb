/*
 * The stand-in client library's own administration calls and return codes.
 *
 * libsqlwntm.so from this folder implements the 28 entry points of client/sqlwntm.h over
 * SQLite on the local machine. Servers are folders under the root folder below; hosts such as
 * the quillet command line create, start and inspect them with these calls. See README.md in
 * this folder for the layout on disk and the behaviour of each entry point.
 */
#ifndef QUILLET_SQLBASE_STANDIN_STANDIN_ADMIN_H
#define QUILLET_SQLBASE_STANDIN_STANDIN_ADMIN_H

#include <stdint.h>

#if defined(_WIN32)
#define STANDIN_API
#else
#define STANDIN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes of the stand-in: positive 16-bit numbers; 0 is success. */
/* The server has no folder under the root. */
#define STANDIN_NO_SUCH_SERVER 9101
/* The server is terminated: it takes no connection until it is started again. */
#define STANDIN_SERVER_TERMINATED 9102
/* The server password is wrong. */
#define STANDIN_BAD_PASSWORD 9103
/* A server of that name exists already. */
#define STANDIN_SERVER_EXISTS 9104
/* The root or server folder belongs to another user, or group or others may write to it. */
#define STANDIN_UNSAFE_FOLDER 9106
/* A server, database or user name that the stand-in cannot use (see README.md). */
#define STANDIN_BAD_NAME 9105
/* The database is installed already, or its file exists already. */
#define STANDIN_DATABASE_EXISTS 9111
/* No installed database of that name (or, for install, no file of that name). */
#define STANDIN_NO_SUCH_DATABASE 9112
/* Connections are open on the database. */
#define STANDIN_DATABASE_IN_USE 9113
/* The file to install is not a database. */
#define STANDIN_NOT_A_DATABASE 9114
/* More than one server has the database installed; set QUILLET_STANDIN_SERVER. */
#define STANDIN_AMBIGUOUS_DATABASE 9115
/* One more database would make the names list longer than the 1024 bytes a host reads. */
#define STANDIN_TOO_MANY_DATABASES 9117
/* Another connection holds the database lock, or a lock wait ran out. */
#define STANDIN_DATABASE_LOCKED 9116
/* The user is unknown to the database, or the password is wrong. */
#define STANDIN_BAD_LOGIN 9121
/* The connect text is not "database/user/password". */
#define STANDIN_BAD_CONNECT_STRING 9122
/* The server has no free process number (at most 254 connections). */
#define STANDIN_TOO_MANY_CONNECTIONS 9123
/* The connection was killed (or its server restarted); only disconnecting is left. */
#define STANDIN_CONNECTION_KILLED 9124
/* The handle is not an open handle of the right kind. */
#define STANDIN_BAD_HANDLE 9125
/* An unknown parameter, isolation level, request word or argument. */
#define STANDIN_BAD_PARAMETER 9126
/* SQLite refused the statement or a statement of the script. */
#define STANDIN_SQL_ERROR 9131
/* No select statement to describe, bind or fetch from. */
#define STANDIN_NO_STATEMENT 9132
/* The column number is not one of the statement's select columns. */
#define STANDIN_BAD_COLUMN 9133
/* A load or unload command that the stand-in does not know. */
#define STANDIN_BAD_COMMAND 9134
/* A script, unload or backup file or directory could not be read or written. */
#define STANDIN_FILE_ERROR 9135
/* The reply does not fit the buffer that was given. */
#define STANDIN_BUFFER_TOO_SMALL 9136
/* Readers still use the log: it was not released completely. */
#define STANDIN_LOG_IN_USE 9137
/* The load script holds a NUL byte: nothing of it was run. */
#define STANDIN_BAD_SCRIPT 9139
/* The server's own process cannot be killed. */
#define STANDIN_SERVER_PROCESS 9138
/* The server folder or its catalogue could not be read or written. */
#define STANDIN_CATALOGUE_ERROR 9199
/* No connection has that process number. */
#define STANDIN_NO_SUCH_PROCESS 2528

/* Folder that holds the stand-in servers: $QUILLET_STANDIN_ROOT, else
   $HOME/.quillet-standin, else /tmp/quillet-standin. */
STANDIN_API const char* standin_root(void);
/* Creates a server folder with its password, in the running state. 0 or a code above. */
STANDIN_API int16_t standin_server_create(const char* server, const char* password);
/* Puts a terminated server back in the running state. */
STANDIN_API int16_t standin_server_start(const char* server);
/* *running = 1 or 0; 0 or a code above. */
STANDIN_API int16_t standin_server_state(const char* server, int32_t* running);
/* The names of the servers under the root folder, each followed by a newline, in name order.
   The text lives until the thread's next call. */
STANDIN_API const char* standin_server_list(void);
/* 1 when the folder, as the system opens it (through links and "..", backslashes separating
   folders too), is a stand-in server's folder or lies inside one, where a host's file could
   replace the catalogue or a database; 0 when it is not, or cannot be opened. The root that
   holds the server folders is not one. */
STANDIN_API int32_t standin_is_server_folder(const char* folder);
/* Short English text for a return code of the stand-in (or of Quillet's own results:
   -1 file, -30001 argument, -30002 too many columns), or NULL when unknown. */
STANDIN_API const char* standin_code_text(int32_t code);

/* What the calling thread's last failure with this return code was about: the SQLite message
   and script line, the path and the system's reason, the name rule that was broken. NULL
   when the last failure on this thread had another code or no text. The text lives until the
   thread's next call. */
STANDIN_API const char* standin_last_message(int32_t code);
/* How the last message begins when LOCK DATABASE did not get the lock, and only then: a host
   can tell that failure from a load's with the same code. */
#define STANDIN_LOCK_NOT_TAKEN "LOCK DATABASE did not get the lock"

/* What a statement would do on the database, told by preparing it on a read-only connection
   to the database's server (found as a connection finds it) without running it: */
/* it reads rows and changes nothing; */
#define STANDIN_STATEMENT_QUERY 0
/* it changes data, the schema or the server (INSERT ... RETURNING, a pragma that may write,
   such as optimize, also as a pragma_* function, and the server's own statements too); */
#define STANDIN_STATEMENT_CHANGES 1
/* it changes nothing and reads no rows (BEGIN, ATTACH); */
#define STANDIN_STATEMENT_NO_ROWS 2
/* it cannot be told: no such database or server, or SQLite cannot prepare it (running it
   says why). */
#define STANDIN_STATEMENT_UNKNOWN (-1)
STANDIN_API int32_t standin_statement_kind(const char* database, const char* statement);

/* How many values the fetches on the calling thread cut to the length they were bound with,
   since its last statement was compiled or run again: in the column (from 1), or in all of
   them for 0. A UTF-8 text is cut between characters, so it may be shorter than that length.
   When name is not NULL, *name is the column's name as a heading shows it (at most 18 bytes,
   see standin_cut_name), or NULL when nothing was cut there; it
   lives until the thread's next statement. */
STANDIN_API int64_t standin_cut_values(int32_t column, const char** name);

/* 1 when the calling thread's last compiled statement has the column (from 1) described with
   a name longer than the 18 bytes a heading shows: *heading is the name as it shows it (cut
   between UTF-8 characters), *name the whole name; 0 and NULLs when it was not cut or not
   described. The texts live until the thread's next statement. */
STANDIN_API int32_t standin_cut_name(int32_t column, const char** heading, const char** name);

#ifdef __cplusplus
}
#endif

#endif /* QUILLET_SQLBASE_STANDIN_STANDIN_ADMIN_H */
