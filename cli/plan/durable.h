// What the plan needs of the file system beyond std::filesystem, per platform: data that is on
// the disk before a name says it is, folders only this user may change, and who this run is.
#ifndef QUILLET_CLI_PLAN_DURABLE_H
#define QUILLET_CLI_PLAN_DURABLE_H

#include <filesystem>
#include <string>

namespace quillet::cli::plan {

// fsync (FlushFileBuffers); false when the system refused.
bool SyncFile(const std::filesystem::path& path);
// A folder's entries on the disk (on Windows the rename itself is written through).
bool SyncFolder(const std::filesystem::path& path);
// Renames, replacing a file at `to` as POSIX rename does, and on Windows writes the rename
// through; empty, or why not.
std::string RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to);
// Creates the folder and its missing parents for this user alone (0700); empty, or why it
// cannot be used: not a folder, a link, another user's, or one that others may write to.
std::string MakePrivateFolder(const std::filesystem::path& path);
// The same checks without creating: empty when the folder is this user's alone or is not
// there, so nothing is listed or deleted through another user's link or folder.
std::string CheckPrivateFolder(const std::filesystem::path& path);
// A file this user wrote: a regular file of this user's, not a link; empty, or why not. Empty
// too when it is not there, which its reader says in its own words.
std::string CheckPrivateFile(const std::filesystem::path& path);
// Why another user could rename or replace the folder's entries, with what to do about it:
// the folder is that user's (the system's own is trusted), or its group or others may write
// it and it is not sticky. Empty when no one can, and always on Windows, where the folder's
// access list decides.
std::string CheckSharedFolder(const std::filesystem::path& folder);

// Reads the whole file (at most 1 MiB) through one descriptor, not through a link, unless
// another user could change it: it is theirs (the system's own is trusted), or its group or
// others may write it; then untrusted is set. Empty, or why not. On Windows only read, as the
// file's access list decides there.
std::string ReadSharedFile(const std::filesystem::path& file, std::string& text, bool& untrusted);

// The folder's path as the system reaches it, every link followed, and what is not there yet
// as given. Every folder on the way, the root and the last one there among them, must pass
// CheckSharedFolder, and every link must be this user's or the system's, in such a folder: no
// one else could then have put a link on the way or point it elsewhere. Empty, or the first
// that does not, in CheckSharedFolder's words. On Windows only resolved, as the access lists
// decide there.
std::string ResolveTrustedPath(const std::filesystem::path& path, std::filesystem::path& resolved);

// Appends the text to the file, created for this user alone (0600) when it is not there, and
// syncs it; empty, or why not. A link in the file's place is not followed. A last line that
// was cut off is ended first.
std::string AppendPrivately(const std::filesystem::path& path, const std::string& text);

long ProcessId();
std::string HostName();

}  // namespace quillet::cli::plan

#endif  // QUILLET_CLI_PLAN_DURABLE_H
