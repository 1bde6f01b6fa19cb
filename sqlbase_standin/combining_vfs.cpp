#include "combining_vfs.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstring>
#include <mutex>

namespace standin {
namespace {

// Bytes gathered before they are handed on: 16 pages of 4 KiB in one system call. The default
// VFS writes at most 128 KiB less one byte per call (the rest of a larger write is lost and
// reported as a full disk), and the largest page is 64 KiB.
constexpr std::size_t kRunBytes = std::size_t{64} << 10;

struct CombiningFile {
  sqlite3_file base;
  sqlite3_file* real;
  unsigned char* run;  // kRunBytes, made on the first write
  sqlite3_int64 runStart;
  std::size_t runLength;
};

// The wrapped file sits right after ours, aligned as SQLite aligns its own.
constexpr std::size_t kRealOffset = (sizeof(CombiningFile) + 7) & ~std::size_t{7};

sqlite3_vfs* Wrapped(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

CombiningFile* Self(sqlite3_file* file) { return reinterpret_cast<CombiningFile*>(file); }

const sqlite3_io_methods* Real(sqlite3_file* file) { return Self(file)->real->pMethods; }

// A failure here is the result of the call that asked for it, so SQLite sees it as it would
// have seen the failure of the page writes themselves.
int Flush(CombiningFile* self) {
  if (self->runLength == 0) return SQLITE_OK;
  const auto length = static_cast<int>(self->runLength);
  self->runLength = 0;
  return self->real->pMethods->xWrite(self->real, self->run, length, self->runStart);
}

int FlushFirst(sqlite3_file* file) { return Flush(Self(file)); }

int Close(sqlite3_file* file) {
  CombiningFile* self = Self(file);
  const int flushed = Flush(self);
  const int closed = self->real->pMethods->xClose(self->real);
  sqlite3_free(self->run);
  self->run = nullptr;
  return flushed != SQLITE_OK ? flushed : closed;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xRead(Self(file)->real, buffer, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  CombiningFile* self = Self(file);
  const auto length = static_cast<std::size_t>(amount);
  const bool follows = self->runLength > 0 &&
                       offset == self->runStart + static_cast<sqlite3_int64>(self->runLength) &&
                       self->runLength + length <= kRunBytes;
  if (!follows) {
    if (const int code = Flush(self)) return code;
    if (self->run == nullptr) {
      self->run = static_cast<unsigned char*>(sqlite3_malloc64(kRunBytes));
    }
    // Without room to gather, or when gathering gains nothing, the write goes straight on.
    if (self->run == nullptr || length >= kRunBytes) {
      return self->real->pMethods->xWrite(self->real, data, amount, offset);
    }
    self->runStart = offset;
  }
  std::memcpy(self->run + self->runLength, data, length);
  self->runLength += length;
  return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xTruncate(Self(file)->real, size);
}

int Sync(sqlite3_file* file, int flags) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xSync(Self(file)->real, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xFileSize(Self(file)->real, size);
}

int Lock(sqlite3_file* file, int level) { return Real(file)->xLock(Self(file)->real, level); }

// A transaction ends with its writes in the file, where the file's other readers see them.
int Unlock(sqlite3_file* file, int level) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xUnlock(Self(file)->real, level);
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
  return Real(file)->xCheckReservedLock(Self(file)->real, reserved);
}

// Commits pass here (SQLITE_FCNTL_SYNC) even without syncs, so a failed write fails the commit.
int FileControl(sqlite3_file* file, int operation, void* argument) {
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xFileControl(Self(file)->real, operation, argument);
}

int SectorSize(sqlite3_file* file) { return Real(file)->xSectorSize(Self(file)->real); }

int DeviceCharacteristics(sqlite3_file* file) {
  return Real(file)->xDeviceCharacteristics(Self(file)->real);
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** mapped) {
  if (Real(file)->iVersion < 2) return SQLITE_IOERR_SHMMAP;
  return Real(file)->xShmMap(Self(file)->real, region, size, extend, mapped);
}

int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
  if (Real(file)->iVersion < 2) return SQLITE_IOERR_SHMLOCK;
  return Real(file)->xShmLock(Self(file)->real, offset, count, flags);
}

void ShmBarrier(sqlite3_file* file) {
  if (Real(file)->iVersion >= 2) Real(file)->xShmBarrier(Self(file)->real);
}

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  if (Real(file)->iVersion < 2) return SQLITE_OK;
  return Real(file)->xShmUnmap(Self(file)->real, deleteFlag);
}

int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pages) {
  *pages = nullptr;
  if (Real(file)->iVersion < 3) return SQLITE_OK;
  if (const int code = FlushFirst(file)) return code;
  return Real(file)->xFetch(Self(file)->real, offset, amount, pages);
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* pages) {
  if (Real(file)->iVersion < 3) return SQLITE_OK;
  return Real(file)->xUnfetch(Self(file)->real, offset, pages);
}

const sqlite3_io_methods kMethods = {3,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     Fetch,
                                     Unfetch};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  CombiningFile* self = Self(file);
  self->base.pMethods = nullptr;
  self->real =
      reinterpret_cast<sqlite3_file*>(reinterpret_cast<unsigned char*>(file) + kRealOffset);
  self->run = nullptr;
  self->runStart = 0;
  self->runLength = 0;
  const int code = Wrapped(vfs)->xOpen(Wrapped(vfs), name, self->real, flags, outFlags);
  // SQLite closes a file whose methods are set even when its open failed.
  if (self->real->pMethods != nullptr) self->base.pMethods = &kMethods;
  return code;
}

int Delete(sqlite3_vfs* vfs, const char* name, int syncFolder) {
  return Wrapped(vfs)->xDelete(Wrapped(vfs), name, syncFolder);
}

int Access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
  return Wrapped(vfs)->xAccess(Wrapped(vfs), name, flags, result);
}

int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* full) {
  return Wrapped(vfs)->xFullPathname(Wrapped(vfs), name, size, full);
}

void* DlOpen(sqlite3_vfs* vfs, const char* name) {
  return Wrapped(vfs)->xDlOpen(Wrapped(vfs), name);
}

void DlError(sqlite3_vfs* vfs, int size, char* message) {
  Wrapped(vfs)->xDlError(Wrapped(vfs), size, message);
}

void (*DlSym(sqlite3_vfs* vfs, void* library, const char* symbol))() {
  return Wrapped(vfs)->xDlSym(Wrapped(vfs), library, symbol);
}

void DlClose(sqlite3_vfs* vfs, void* library) { Wrapped(vfs)->xDlClose(Wrapped(vfs), library); }

int Randomness(sqlite3_vfs* vfs, int size, char* out) {
  return Wrapped(vfs)->xRandomness(Wrapped(vfs), size, out);
}

int Sleep(sqlite3_vfs* vfs, int microseconds) {
  return Wrapped(vfs)->xSleep(Wrapped(vfs), microseconds);
}

int CurrentTime(sqlite3_vfs* vfs, double* now) {
  return Wrapped(vfs)->xCurrentTime(Wrapped(vfs), now);
}

int GetLastError(sqlite3_vfs* vfs, int size, char* message) {
  return Wrapped(vfs)->xGetLastError(Wrapped(vfs), size, message);
}

int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
  if (Wrapped(vfs)->iVersion < 2 || Wrapped(vfs)->xCurrentTimeInt64 == nullptr) {
    double days = 0;
    const int code = CurrentTime(vfs, &days);
    *now = static_cast<sqlite3_int64>(days * 86400000.0);
    return code;
  }
  return Wrapped(vfs)->xCurrentTimeInt64(Wrapped(vfs), now);
}

sqlite3_vfs combining{};

}  // namespace

const char* CombiningVfsName() {
  static std::once_flag once;
  static const char* name = nullptr;
  std::call_once(once, [] {
    if (sqlite3_initialize() != SQLITE_OK) return;
    sqlite3_vfs* wrapped = sqlite3_vfs_find("unix");
    if (wrapped == nullptr) wrapped = sqlite3_vfs_find(nullptr);
    if (wrapped == nullptr) return;
    combining.iVersion = 2;
    combining.szOsFile = static_cast<int>(kRealOffset) + wrapped->szOsFile;
    combining.mxPathname = wrapped->mxPathname;
    combining.zName = "standin-combining";
    combining.pAppData = wrapped;
    combining.xOpen = Open;
    combining.xDelete = Delete;
    combining.xAccess = Access;
    combining.xFullPathname = FullPathname;
    combining.xDlOpen = DlOpen;
    combining.xDlError = DlError;
    combining.xDlSym = DlSym;
    combining.xDlClose = DlClose;
    combining.xRandomness = Randomness;
    combining.xSleep = Sleep;
    combining.xCurrentTime = CurrentTime;
    combining.xGetLastError = GetLastError;
    combining.xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(&combining, 0) == SQLITE_OK) name = combining.zName;
  });
  return name;
}

}  // namespace standin
