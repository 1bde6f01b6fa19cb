#include "speedups/backup_write_gathering.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

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

// A file that the caller opened already, reached through its descriptor alone: SQLite never
// opens it, nor anything beside it, by a path, which another user may have swapped meanwhile
// for a link to some other file. Nothing else opens the file, so locks are only recorded.
struct DescriptorFile {
  sqlite3_file base;
  int descriptor;
  int lock;
};

constexpr const char* kDescriptorPrefix = ":standin-descriptor:";

bool HasDescriptorPrefix(const char* name) {
  return name != nullptr &&
         std::strncmp(name, kDescriptorPrefix, std::strlen(kDescriptorPrefix)) == 0;
}

// The descriptor that a name of DescriptorFileName gives; -1 for any other name, a journal's or
// a log's made from it among them.
int DescriptorOf(const char* name) {
  if (!HasDescriptorPrefix(name)) return -1;
  const char* digits = name + std::strlen(kDescriptorPrefix);
  if (*digits < '0' || *digits > '9') return -1;
  char* end = nullptr;
  errno = 0;
  const long descriptor = std::strtol(digits, &end, 10);
  return errno == 0 && *end == '\0' && descriptor <= INT_MAX ? static_cast<int>(descriptor) : -1;
}

DescriptorFile* Described(sqlite3_file* file) { return reinterpret_cast<DescriptorFile*>(file); }

int DescriptorClose(sqlite3_file*) { return SQLITE_OK; }  // the descriptor is the caller's

int DescriptorRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t got = 0;
  const auto wanted = static_cast<std::size_t>(amount);
  while (got < wanted) {
    const ssize_t read = pread(Described(file)->descriptor, bytes + got, wanted - got,
                               static_cast<off_t>(offset + static_cast<sqlite3_int64>(got)));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return SQLITE_IOERR_READ;
    if (read == 0) break;
    got += static_cast<std::size_t>(read);
  }
  if (got == wanted) return SQLITE_OK;
  // SQLite reads past the end of a file as zeros, and expects them filled in.
  std::memset(bytes + got, 0, wanted - got);
  return SQLITE_IOERR_SHORT_READ;
}

int DescriptorWrite(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t put = 0;
  const auto wanted = static_cast<std::size_t>(amount);
  while (put < wanted) {
    const ssize_t written = pwrite(Described(file)->descriptor, bytes + put, wanted - put,
                                   static_cast<off_t>(offset + static_cast<sqlite3_int64>(put)));
    if (written < 0 && errno == EINTR) continue;
    // A file that may not grow (a full disk, a size limit) is full, as the default VFS says.
    if (written == 0 || (written < 0 && (errno == ENOSPC || errno == EFBIG))) return SQLITE_FULL;
    if (written < 0) return SQLITE_IOERR_WRITE;
    put += static_cast<std::size_t>(written);
  }
  return SQLITE_OK;
}

int DescriptorTruncate(sqlite3_file* file, sqlite3_int64 size) {
  return ftruncate(Described(file)->descriptor, static_cast<off_t>(size)) == 0
             ? SQLITE_OK
             : SQLITE_IOERR_TRUNCATE;
}

int DescriptorSync(sqlite3_file* file, int) {
  return fsync(Described(file)->descriptor) == 0 ? SQLITE_OK : SQLITE_IOERR_FSYNC;
}

int DescriptorFileSize(sqlite3_file* file, sqlite3_int64* size) {
  struct stat info {};
  if (fstat(Described(file)->descriptor, &info) != 0) return SQLITE_IOERR_FSTAT;
  *size = info.st_size;
  return SQLITE_OK;
}

int DescriptorLock(sqlite3_file* file, int level) {
  Described(file)->lock = std::max(Described(file)->lock, level);
  return SQLITE_OK;
}

int DescriptorUnlock(sqlite3_file* file, int level) {
  Described(file)->lock = std::min(Described(file)->lock, level);
  return SQLITE_OK;
}

int DescriptorCheckReservedLock(sqlite3_file*, int* reserved) {
  *reserved = 0;
  return SQLITE_OK;
}

int DescriptorFileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }

// As the default VFS says of a local file.
int DescriptorSectorSize(sqlite3_file*) { return 4096; }

int DescriptorDeviceCharacteristics(sqlite3_file*) { return SQLITE_IOCAP_POWERSAFE_OVERWRITE; }

// Version 1: no shared memory, so no log, and no mapping.
const sqlite3_io_methods kDescriptorMethods = {1,
                                               DescriptorClose,
                                               DescriptorRead,
                                               DescriptorWrite,
                                               DescriptorTruncate,
                                               DescriptorSync,
                                               DescriptorFileSize,
                                               DescriptorLock,
                                               DescriptorUnlock,
                                               DescriptorCheckReservedLock,
                                               DescriptorFileControl,
                                               DescriptorSectorSize,
                                               DescriptorDeviceCharacteristics,
                                               nullptr,
                                               nullptr,
                                               nullptr,
                                               nullptr,
                                               nullptr,
                                               nullptr};

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
  if (HasDescriptorPrefix(name)) {
    // The database itself, and nothing beside it: a journal or a log would be opened by a path.
    const int descriptor = DescriptorOf(name);
    if (descriptor < 0 || (flags & SQLITE_OPEN_MAIN_DB) == 0) return SQLITE_CANTOPEN;
    DescriptorFile* described = Described(self->real);
    described->descriptor = descriptor;
    described->lock = SQLITE_LOCK_NONE;
    described->base.pMethods = &kDescriptorMethods;
    self->base.pMethods = &kMethods;
    if (outFlags != nullptr) *outFlags = flags;
    return SQLITE_OK;
  }
  const int code = Wrapped(vfs)->xOpen(Wrapped(vfs), name, self->real, flags, outFlags);
  // SQLite closes a file whose methods are set even when its open failed.
  if (self->real->pMethods != nullptr) self->base.pMethods = &kMethods;
  return code;
}

// Names made from a descriptor's name (its journal's, its log's) are no paths: no such file
// exists, and none is looked for or removed.
int Delete(sqlite3_vfs* vfs, const char* name, int syncFolder) {
  if (HasDescriptorPrefix(name)) return SQLITE_OK;
  return Wrapped(vfs)->xDelete(Wrapped(vfs), name, syncFolder);
}

int Access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
  if (HasDescriptorPrefix(name)) {
    *result = 0;
    return SQLITE_OK;
  }
  return Wrapped(vfs)->xAccess(Wrapped(vfs), name, flags, result);
}

// The default VFS would resolve the name against the working folder and follow links.
int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* full) {
  if (HasDescriptorPrefix(name)) {
    const std::size_t length = std::strlen(name);
    if (length + 1 > static_cast<std::size_t>(size)) return SQLITE_CANTOPEN;
    std::memcpy(full, name, length + 1);
    return SQLITE_OK;
  }
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
    combining.szOsFile = static_cast<int>(kRealOffset) +
                         std::max(wrapped->szOsFile, static_cast<int>(sizeof(DescriptorFile)));
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

std::string DescriptorFileName(int descriptor) {
  return kDescriptorPrefix + std::to_string(descriptor);
}

}  // namespace standin
