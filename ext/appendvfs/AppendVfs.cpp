// The append VFS: a shim over the default VFS that shifts every offset of the main database file
// by the database's start position within a host file, and keeps a mark after the database that
// records where it starts. Journals, WAL files and temporary files bypass the shim.

#include "ext/appendvfs/AppendVfs.h"

#include <cstring>

namespace {

// Database start positions the shim chooses are multiples of this.
constexpr std::int64_t startAlignment = 4096;
// Database start positions read from a mark must be multiples of this.
constexpr std::int64_t markAlignment = 512;
// The smallest file that can hold a mark and a one-page database of 512 bytes.
constexpr std::int64_t minAppendedFileSize = markAlignment + appendMarkSize;
// Writes that would end at or beyond this database offset fail with SQLITE_FULL.
constexpr std::int64_t maxDbSize = 0x40000000;
// SQLite's database header, with its terminating zero.
constexpr char dbHeader[] = "SQLite format 3";
constexpr int dbHeaderSize = 16;

// The open main-database file: SQLite's header, the shim's fields, then the default VFS's file
// object in the rest of the allocation (szOsFile is the default's plus sizeof of this record
// minus the header).
struct AppendedDbFile {
  sqlite3_file base;
  sqlite3_int64 iDbStart;     // offset of the database in the host file
  sqlite3_int64 iMarkOffset;  // offset of the mark in the host file; negative while none
};
static_assert(sizeof(AppendedDbFile) == 24, "the shim's fields take 24 bytes");
static_assert(sizeof(AppendedDbFile) % 8 == 0, "the underlying file object must stay aligned");

sqlite3_file* underlying(sqlite3_file* pFile) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<AppendedDbFile*>(pFile) + 1);
}

AppendedDbFile* shim(sqlite3_file* pFile) {
  return reinterpret_cast<AppendedDbFile*>(pFile);
}

sqlite3_vfs* baseVfs(sqlite3_vfs* pVfs) {
  return static_cast<sqlite3_vfs*>(pVfs->pAppData);
}

// Writes the mark at database offset iDbOffset and remembers where it is.
int writeMark(AppendedDbFile* p, sqlite3_file* pUnder, sqlite3_int64 iDbOffset) {
  unsigned char aMark[appendMarkSize];
  appendBuildMark(p->iDbStart, aMark);
  const sqlite3_int64 iHostOffset = iDbOffset + p->iDbStart;
  const int rc =
      pUnder->pMethods->xWrite(pUnder, aMark, static_cast<int>(appendMarkSize), iHostOffset);
  if (rc == SQLITE_OK) p->iMarkOffset = iHostOffset;
  return rc;
}

// --- file methods -----------------------------------------------------------------------------

int appendClose(sqlite3_file* pFile) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xClose(pUnder);
}

int appendRead(sqlite3_file* pFile, void* pBuf, int iAmt, sqlite3_int64 iOfst) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xRead(pUnder, pBuf, iAmt, iOfst + shim(pFile)->iDbStart);
}

int appendWrite(sqlite3_file* pFile, const void* pBuf, int iAmt, sqlite3_int64 iOfst) {
  AppendedDbFile* p = shim(pFile);
  sqlite3_file* pUnder = underlying(pFile);
  const sqlite3_int64 iEnd = iOfst + iAmt;
  if (iEnd >= maxDbSize) return SQLITE_FULL;
  if (p->iMarkOffset < 0 || iEnd + p->iDbStart > p->iMarkOffset) {
    const int rc = writeMark(p, pUnder, iEnd);
    if (rc != SQLITE_OK) return rc;
  }
  return pUnder->pMethods->xWrite(pUnder, pBuf, iAmt, iOfst + p->iDbStart);
}

int appendTruncate(sqlite3_file* pFile, sqlite3_int64 size) {
  AppendedDbFile* p = shim(pFile);
  sqlite3_file* pUnder = underlying(pFile);
  if (writeMark(p, pUnder, size) != SQLITE_OK) return SQLITE_IOERR;
  return pUnder->pMethods->xTruncate(pUnder, p->iMarkOffset + appendMarkSize);
}

int appendSync(sqlite3_file* pFile, int flags) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xSync(pUnder, flags);
}

int appendFileSize(sqlite3_file* pFile, sqlite3_int64* pSize) {
  const AppendedDbFile* p = shim(pFile);
  *pSize = p->iMarkOffset >= 0 ? p->iMarkOffset - p->iDbStart : 0;
  return SQLITE_OK;
}

int appendLock(sqlite3_file* pFile, int eLock) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xLock(pUnder, eLock);
}

int appendUnlock(sqlite3_file* pFile, int eLock) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xUnlock(pUnder, eLock);
}

int appendCheckReservedLock(sqlite3_file* pFile, int* pResOut) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xCheckReservedLock(pUnder, pResOut);
}

int appendFileControl(sqlite3_file* pFile, int op, void* pArg) {
  AppendedDbFile* p = shim(pFile);
  sqlite3_file* pUnder = underlying(pFile);
  if (op == SQLITE_FCNTL_CHUNK_SIZE) {
    // The underlying file would round its size up to whole chunks of the host file, leaving
    // bytes after the mark, and the database could no longer be found. The hint only tunes
    // performance, so it is declined.
    return SQLITE_NOTFOUND;
  }
  if (op == SQLITE_FCNTL_SIZE_HINT) {
    // Shift a copy: the caller's variable stays a database size.
    sqlite3_int64 nHostSize = *static_cast<sqlite3_int64*>(pArg) + p->iDbStart;
    return pUnder->pMethods->xFileControl(pUnder, op, &nHostSize);
  }
  const int rc = pUnder->pMethods->xFileControl(pUnder, op, pArg);
  if (rc == SQLITE_OK && op == SQLITE_FCNTL_VFSNAME) {
    char** pzName = static_cast<char**>(pArg);
    *pzName = sqlite3_mprintf("apnd(%lld)/%z", p->iDbStart, *pzName);
  }
  return rc;
}

int appendSectorSize(sqlite3_file* pFile) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xSectorSize(pUnder);
}

int appendDeviceCharacteristics(sqlite3_file* pFile) {
  sqlite3_file* pUnder = underlying(pFile);
  return pUnder->pMethods->xDeviceCharacteristics(pUnder);
}

int appendShmMap(sqlite3_file* pFile, int iPg, int pgsz, int bExtend, void volatile** pp) {
  sqlite3_file* pUnder = underlying(pFile);
  if (pUnder->pMethods->iVersion < 2 || !pUnder->pMethods->xShmMap) return SQLITE_IOERR_SHMMAP;
  return pUnder->pMethods->xShmMap(pUnder, iPg, pgsz, bExtend, pp);
}

int appendShmLock(sqlite3_file* pFile, int offset, int n, int flags) {
  sqlite3_file* pUnder = underlying(pFile);
  if (pUnder->pMethods->iVersion < 2 || !pUnder->pMethods->xShmLock) return SQLITE_IOERR_SHMLOCK;
  return pUnder->pMethods->xShmLock(pUnder, offset, n, flags);
}

void appendShmBarrier(sqlite3_file* pFile) {
  sqlite3_file* pUnder = underlying(pFile);
  if (pUnder->pMethods->iVersion < 2 || !pUnder->pMethods->xShmBarrier) return;
  pUnder->pMethods->xShmBarrier(pUnder);
}

int appendShmUnmap(sqlite3_file* pFile, int bDelete) {
  sqlite3_file* pUnder = underlying(pFile);
  if (pUnder->pMethods->iVersion < 2 || !pUnder->pMethods->xShmUnmap) return SQLITE_OK;
  return pUnder->pMethods->xShmUnmap(pUnder, bDelete);
}

int appendFetch(sqlite3_file* pFile, sqlite3_int64 iOfst, int iAmt, void** pp) {
  const AppendedDbFile* p = shim(pFile);
  sqlite3_file* pUnder = underlying(pFile);
  // Compare in host offsets: the mark's offset is one.
  if (p->iMarkOffset < 0 || iOfst + iAmt + p->iDbStart > p->iMarkOffset) return SQLITE_IOERR;
  if (pUnder->pMethods->iVersion < 3 || !pUnder->pMethods->xFetch) {
    *pp = nullptr;
    return SQLITE_OK;
  }
  return pUnder->pMethods->xFetch(pUnder, iOfst + p->iDbStart, iAmt, pp);
}

int appendUnfetch(sqlite3_file* pFile, sqlite3_int64 iOfst, void* pPage) {
  sqlite3_file* pUnder = underlying(pFile);
  if (pUnder->pMethods->iVersion < 3 || !pUnder->pMethods->xUnfetch) return SQLITE_OK;
  return pUnder->pMethods->xUnfetch(pUnder, iOfst + shim(pFile)->iDbStart, pPage);
}

const sqlite3_io_methods appendIoMethods = {
    3,  // iVersion
    appendClose,
    appendRead,
    appendWrite,
    appendTruncate,
    appendSync,
    appendFileSize,
    appendLock,
    appendUnlock,
    appendCheckReservedLock,
    appendFileControl,
    appendSectorSize,
    appendDeviceCharacteristics,
    appendShmMap,
    appendShmLock,
    appendShmBarrier,
    appendShmUnmap,
    appendFetch,
    appendUnfetch,
};

// --- recognising the file ---------------------------------------------------------------------

bool hasDbHeaderAt(sqlite3_file* pUnder, sqlite3_int64 iOffset) {
  char aHeader[dbHeaderSize];
  if (pUnder->pMethods->xRead(pUnder, aHeader, dbHeaderSize, iOffset) != SQLITE_OK) return false;
  return std::memcmp(aHeader, dbHeader, dbHeaderSize) == 0;
}

std::optional<std::int64_t> readMark(sqlite3_file* pUnder, sqlite3_int64 nFileSize) {
  if (nFileSize < static_cast<sqlite3_int64>(appendMarkSize)) return std::nullopt;
  unsigned char aTail[appendMarkSize];
  if (pUnder->pMethods->xRead(pUnder, aTail, static_cast<int>(appendMarkSize),
                              nFileSize - static_cast<sqlite3_int64>(appendMarkSize)) !=
      SQLITE_OK) {
    return std::nullopt;
  }
  return appendDecodeMark(aTail, nFileSize);
}

bool holdsAppendedDb(sqlite3_file* pUnder, sqlite3_int64 nFileSize,
                     const std::optional<std::int64_t>& iStart) {
  return iStart && nFileSize % markAlignment == static_cast<sqlite3_int64>(appendMarkSize) &&
         nFileSize >= minAppendedFileSize && hasDbHeaderAt(pUnder, *iStart);
}

bool isOrdinaryDb(sqlite3_file* pUnder, sqlite3_int64 nFileSize, bool bAppended) {
  return !bAppended && nFileSize % markAlignment == 0 && hasDbHeaderAt(pUnder, 0);
}

// --- VFS methods ------------------------------------------------------------------------------

int appendOpen(sqlite3_vfs* pVfs, const char* zName, sqlite3_file* pFile, int flags,
               int* pOutFlags) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  if ((flags & SQLITE_OPEN_MAIN_DB) == 0)
    return pBase->xOpen(pBase, zName, pFile, flags, pOutFlags);

  AppendedDbFile* p = shim(pFile);
  sqlite3_file* pUnder = underlying(pFile);
  std::memset(p, 0, sizeof(*p));
  std::memset(pUnder, 0, static_cast<std::size_t>(pBase->szOsFile));
  p->base.pMethods = &appendIoMethods;
  p->iMarkOffset = -1;

  int rc = pBase->xOpen(pBase, zName, pUnder, flags, pOutFlags);
  sqlite3_int64 nFileSize = 0;
  if (rc == SQLITE_OK) rc = pUnder->pMethods->xFileSize(pUnder, &nFileSize);
  if (rc != SQLITE_OK) {
    if (pUnder->pMethods) pUnder->pMethods->xClose(pUnder);
    p->base.pMethods = nullptr;
    return rc;
  }

  const std::optional<std::int64_t> iMarkStart = readMark(pUnder, nFileSize);
  const bool bAppended = holdsAppendedDb(pUnder, nFileSize, iMarkStart);
  if (isOrdinaryDb(pUnder, nFileSize, bAppended)) {
    // From here on the default VFS serves the file directly.
    std::memmove(pFile, pUnder, static_cast<std::size_t>(pBase->szOsFile));
    return SQLITE_OK;
  }
  if (iMarkStart) {
    p->iDbStart = *iMarkStart;
    p->iMarkOffset = nFileSize - static_cast<sqlite3_int64>(appendMarkSize);
    return SQLITE_OK;
  }
  if ((flags & SQLITE_OPEN_CREATE) == 0) {
    pUnder->pMethods->xClose(pUnder);
    p->base.pMethods = nullptr;
    return SQLITE_CANTOPEN;
  }
  // A new database after the host's content; nothing is written until the first write.
  p->iDbStart = (nFileSize + startAlignment - 1) / startAlignment * startAlignment;
  return SQLITE_OK;
}

int appendDelete(sqlite3_vfs* pVfs, const char* zName, int bSyncDir) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xDelete(pBase, zName, bSyncDir);
}

int appendAccess(sqlite3_vfs* pVfs, const char* zName, int flags, int* pResOut) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xAccess(pBase, zName, flags, pResOut);
}

int appendFullPathname(sqlite3_vfs* pVfs, const char* zName, int nOut, char* zOut) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xFullPathname(pBase, zName, nOut, zOut);
}

void* appendDlOpen(sqlite3_vfs* pVfs, const char* zPath) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xDlOpen(pBase, zPath);
}

void appendDlError(sqlite3_vfs* pVfs, int nByte, char* zErrMsg) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  pBase->xDlError(pBase, nByte, zErrMsg);
}

void (*appendDlSym(sqlite3_vfs* pVfs, void* pHandle, const char* zSymbol))(void) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xDlSym(pBase, pHandle, zSymbol);
}

void appendDlClose(sqlite3_vfs* pVfs, void* pHandle) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  pBase->xDlClose(pBase, pHandle);
}

int appendRandomness(sqlite3_vfs* pVfs, int nByte, char* zOut) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xRandomness(pBase, nByte, zOut);
}

int appendSleep(sqlite3_vfs* pVfs, int nMicro) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xSleep(pBase, nMicro);
}

int appendCurrentTime(sqlite3_vfs* pVfs, double* pTime) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xCurrentTime(pBase, pTime);
}

int appendGetLastError(sqlite3_vfs* pVfs, int nByte, char* zOut) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xGetLastError(pBase, nByte, zOut);
}

int appendCurrentTimeInt64(sqlite3_vfs* pVfs, sqlite3_int64* pTime) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xCurrentTimeInt64(pBase, pTime);
}

int appendSetSystemCall(sqlite3_vfs* pVfs, const char* zName, sqlite3_syscall_ptr pCall) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xSetSystemCall(pBase, zName, pCall);
}

sqlite3_syscall_ptr appendGetSystemCall(sqlite3_vfs* pVfs, const char* zName) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xGetSystemCall(pBase, zName);
}

const char* appendNextSystemCall(sqlite3_vfs* pVfs, const char* zName) {
  sqlite3_vfs* pBase = baseVfs(pVfs);
  return pBase->xNextSystemCall(pBase, zName);
}

sqlite3_vfs appendVfs = {
    3,        // iVersion, replaced by the default VFS's at registration
    0,        // szOsFile, set at registration
    1024,     // mxPathname
    nullptr,  // pNext
    appendVfsName,
    nullptr,  // pAppData: the default VFS, set at registration
    appendOpen,
    appendDelete,
    appendAccess,
    appendFullPathname,
    appendDlOpen,
    appendDlError,
    appendDlSym,
    appendDlClose,
    appendRandomness,
    appendSleep,
    appendCurrentTime,
    appendGetLastError,
    appendCurrentTimeInt64,
    appendSetSystemCall,
    appendGetSystemCall,
    appendNextSystemCall,
};

}  // namespace

void appendBuildMark(std::int64_t iDbStart, unsigned char* aMark) {
  std::memcpy(aMark, appendMarkPrefix, appendMarkPrefixSize);
  auto uStart = static_cast<std::uint64_t>(iDbStart);
  for (std::size_t i = appendMarkSize; i-- > appendMarkPrefixSize;) {
    aMark[i] = static_cast<unsigned char>(uStart & 0xff);
    uStart >>= 8;
  }
}

std::optional<std::int64_t> appendDecodeMark(const unsigned char* aTail, std::int64_t nFileSize) {
  if (nFileSize % markAlignment != static_cast<std::int64_t>(appendMarkSize)) return std::nullopt;
  if (std::memcmp(aTail, appendMarkPrefix, appendMarkPrefixSize) != 0) return std::nullopt;
  // The top bit is ignored, so the start is never negative.
  std::uint64_t uStart = aTail[appendMarkPrefixSize] & 0x7f;
  for (std::size_t i = appendMarkPrefixSize + 1; i < appendMarkSize; ++i) {
    uStart = (uStart << 8) | aTail[i];
  }
  const auto iStart = static_cast<std::int64_t>(uStart);
  if (iStart > nFileSize - static_cast<std::int64_t>(appendMarkSize) - markAlignment ||
      iStart % markAlignment != 0) {
    return std::nullopt;
  }
  return iStart;
}

int appendVfsRegister(sqlite3* /*db*/, char** /*pzErrMsg*/) {
  if (appendVfs.pAppData != nullptr) {
    // Registered before: files may be open over the VFS chosen then, which therefore stays.
    if (sqlite3_vfs_find(appendVfsName) == &appendVfs) return SQLITE_OK_LOAD_PERMANENTLY;
    const int rc = sqlite3_vfs_register(&appendVfs, 0);
    return rc == SQLITE_OK ? SQLITE_OK_LOAD_PERMANENTLY : rc;
  }
  sqlite3_vfs* pBase = sqlite3_vfs_find(nullptr);
  if (pBase == nullptr) return SQLITE_ERROR;
  appendVfs.iVersion = pBase->iVersion;
  appendVfs.pAppData = pBase;
  appendVfs.szOsFile = pBase->szOsFile + static_cast<int>(sizeof(AppendedDbFile));
  const int rc = sqlite3_vfs_register(&appendVfs, 0);
  return rc == SQLITE_OK ? SQLITE_OK_LOAD_PERMANENTLY : rc;
}
