// SQLite writes a file one page per system call. A file written whole and in order, such as a
// backup's draft, is written far faster when those pages go down in large runs: files opened
// through this VFS gather writes that follow on from one another and hand them on together.
// Everything else passes through to the default VFS unchanged, so the bytes on disk are the
// same; whatever could observe the file first sees every write made before it.
#ifndef QUILLET_SQLBASE_STANDIN_COMBINING_VFS_H
#define QUILLET_SQLBASE_STANDIN_COMBINING_VFS_H

namespace standin {

// Registers the VFS on first use (never as the default). Null when it could not be registered:
// open through SQLite's default VFS then.
const char* CombiningVfsName();

}  // namespace standin

#endif  // QUILLET_SQLBASE_STANDIN_COMBINING_VFS_H
