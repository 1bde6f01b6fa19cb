// SQLite writes a file one page per system call. A file written whole and in order, such as a
// backup's draft, is written far faster when those pages go down in large runs: files opened
// through this VFS gather writes that follow on from one another and hand them on together.
// Everything else passes through to the default VFS unchanged, so the bytes on disk are the
// same; whatever could observe the file first sees every write made before it. A file may also
// be handed over already open (DescriptorFileName): it is then read and written through that
// descriptor only.
#ifndef QUILLET_SQLBASE_STANDIN_SPEEDUPS_BACKUP_WRITE_GATHERING_H
#define QUILLET_SQLBASE_STANDIN_SPEEDUPS_BACKUP_WRITE_GATHERING_H

#include <string>

namespace standin {

// Registers the VFS on first use (never as the default). Null when it could not be registered:
// open through SQLite's default VFS then (a descriptor's name cannot be opened there).
const char* CombiningVfsName();

// The name under which a database opened through this VFS is the file already open as the
// descriptor (read and write): SQLite then reaches that file through the descriptor alone, never
// by a path that another user could swap for a link meanwhile, and opens nothing beside it, so
// the database must need neither a journal nor a log (journal_mode OFF, never WAL). The
// descriptor stays the caller's, to be kept open until the connection is closed.
std::string DescriptorFileName(int descriptor);

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_SPEEDUPS_BACKUP_WRITE_GATHERING_H
