// The Win32 file calls that prepare snapshot directories. On Windows they are the system's own;
// elsewhere win32_file.cpp gives them their Win32 meaning over POSIX calls, kept inside the
// library (hidden) so that they never meet a host's symbols of the same names.
#ifndef QUILLET_PLATFORM_WIN32_FILE_H
#define QUILLET_PLATFORM_WIN32_FILE_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdint>

// Room for one path, terminating NUL included.
#define MAX_PATH 260

using BOOL = int;
using DWORD = uint32_t;
using HANDLE = void*;
using LPCSTR = const char*;

struct WIN32_FIND_DATAA {
  char cFileName[MAX_PATH];
};
struct SECURITY_ATTRIBUTES;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))
#define FILE_ATTRIBUTE_READONLY 0x1U
#define FILE_ATTRIBUTE_DIRECTORY 0x10U
#define FILE_ATTRIBUTE_NORMAL 0x80U
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400U
#define MOVEFILE_REPLACE_EXISTING 0x1U
#define GENERIC_READ 0x80000000U
#define OPEN_ALWAYS 4U
#define ERROR_FILE_NOT_FOUND 2U
#define ERROR_PATH_NOT_FOUND 3U
#define ERROR_ACCESS_DENIED 5U
#define ERROR_SHARING_VIOLATION 32U
#define ERROR_LOCK_VIOLATION 33U

#define QUILLET_PLATFORM_HIDDEN __attribute__((visibility("hidden")))

// Paths use '\' as separator. Nothing is deleted, created or moved in a stand-in server's folder
// (one that holds "standin.catalogue") nor in a folder that holds one, however the path is
// spelled: those calls fail there, as for a folder one may not write to.
// The search pattern must be "<directory>\*.*" (or "\*"): every entry of the directory is found,
// "." and ".." first. A directory that is a symbolic link is not searched: nothing that empties
// a directory goes through a link.
QUILLET_PLATFORM_HIDDEN HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found);
QUILLET_PLATFORM_HIDDEN BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found);
QUILLET_PLATFORM_HIDDEN BOOL FindClose(HANDLE search);
// The entry itself, not what a link names: a symbolic link is a reparse point, a directory as
// well when its target is one (as Windows marks a directory link); read-only means no
// owner-write bit. A directory that another user owns, or that its group or others may write
// to, is a reparse point too: someone else can swap what is in it, or plant a link there, so
// it is as little the library's to empty as a link's target. INVALID_FILE_ATTRIBUTES when the
// path does not exist.
QUILLET_PLATFORM_HIDDEN DWORD GetFileAttributesA(LPCSTR path);
// Deletes a link itself, never its target. Refuses directories and read-only files (no owner-write
// bit), whoever runs the process, and goes through no link that stands as the entry's directory
// (on Windows, ClearDirectory holds the directory so that nothing can be swapped in for it).
QUILLET_PLATFORM_HIDDEN BOOL DeleteFileA(LPCSTR path);
// Removes an empty directory only.
QUILLET_PLATFORM_HIDDEN BOOL RemoveDirectoryA(LPCSTR path);
// Creates one level: the parent must exist. The attributes are not used.
QUILLET_PLATFORM_HIDDEN BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* attributes);
// With MOVEFILE_REPLACE_EXISTING: moves a file (a link as itself) into another directory of the
// same file system, replacing a file but no directory nor read-only file. With 0: renames a
// file or a directory (a link as itself) on the same file system, replacing nothing. No other
// flags. Goes through no link that stands as either directory.
QUILLET_PLATFORM_HIDDEN BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
// Only the form that locks a file: GENERIC_READ, OPEN_ALWAYS, no security attributes nor
// template. Opens the file, creating it (mode 0600) when missing, never through a link nor
// waiting on a FIFO; anything but a regular file is refused (ERROR_ACCESS_DENIED). With
// share mode 0 the file is locked as Windows locks it, against every other open with share
// mode 0 in this process or any other (an flock on the open file), until CloseHandle; an open
// while it is held fails with ERROR_SHARING_VIOLATION from GetLastError. Refused, as other
// changes, in a stand-in server's folder or their root.
QUILLET_PLATFORM_HIDDEN HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                           SECURITY_ATTRIBUTES* security, DWORD disposition,
                                           DWORD flags, HANDLE templateFile);
// Closes a handle of CreateFileA, and so ends its lock.
QUILLET_PLATFORM_HIDDEN BOOL CloseHandle(HANDLE handle);
// Why the calling thread's last CreateFileA failed: ERROR_SHARING_VIOLATION,
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND or ERROR_ACCESS_DENIED (any other reason).
QUILLET_PLATFORM_HIDDEN DWORD GetLastError();
QUILLET_PLATFORM_HIDDEN void Sleep(DWORD milliseconds);

#endif

#endif  // QUILLET_PLATFORM_WIN32_FILE_H
