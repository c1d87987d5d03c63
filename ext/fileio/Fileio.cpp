// readfile, writefile, lsmode and the fsdir table over POSIX calls.  Paths are UTF-8 text and
// are joined with '/'.
#include "ext/fileio/Fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr unsigned mTypeField = 0xF000;
constexpr unsigned mTypeDir = 0x4000;
constexpr unsigned mTypeFile = 0x8000;
constexpr unsigned mPermissions = 0777;

// A negative MTIME (-1 when the argument is absent) leaves the times alone.
constexpr sqlite3_int64 iKeepTimes = -1;

constexpr int iColName = 0;
constexpr int iColMode = 1;
constexpr int iColMtime = 2;
constexpr int iColData = 3;
constexpr int iColPath = 4;
constexpr int iColDir = 5;

constexpr const char* zFsdirSchema = "CREATE TABLE x(name,mode,mtime,data,path HIDDEN,dir HIDDEN)";

// Owns a file descriptor.  closeChecked() reports whether the close itself succeeded, which
// matters after writing: a deferred write error surfaces only there.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool closeChecked() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A text value's bytes as a path.  A text with a NUL byte inside names no file: handing it to
// the system would silently cut it at that byte and reach a different file.
bool isUsablePath(sqlite3_value* pVal, const char* zPath) {
  return std::strlen(zPath) == static_cast<size_t>(sqlite3_value_bytes(pVal));
}

// Sets the result to the whole content of the file zPath (relative to the directory open as
// dirFd, or AT_FDCWD) as a BLOB.  Leaves the result NULL when the file cannot be opened or is
// not something that can be read whole (a directory, a pipe, a socket): reading a pipe
// without a writer would wait forever.
void loadFileBlob(sqlite3_context* pCtx, int dirFd, const char* zPath) {
  FileDescriptor file(::openat(dirFd, zPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.valid()) return;
  struct stat st;
  if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) return;
  sqlite3_int64 nSize;
  if (S_ISREG(st.st_mode)) {
    nSize = st.st_size;
  } else {
    off_t iEnd = ::lseek(file.get(), 0, SEEK_END);
    if (iEnd < 0 || ::lseek(file.get(), 0, SEEK_SET) != 0) return;
    nSize = iEnd;
  }
  sqlite3* db = sqlite3_context_db_handle(pCtx);
  if (nSize > sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1)) {
    sqlite3_result_error_code(pCtx, SQLITE_TOOBIG);
    return;
  }
  auto* aBuf = static_cast<unsigned char*>(sqlite3_malloc64(nSize ? nSize : 1));
  if (!aBuf) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_int64 nRead = 0;
  while (nRead < nSize) {
    ssize_t n = ::read(file.get(), aBuf + nRead, static_cast<size_t>(nSize - nRead));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    nRead += n;
  }
  if (nRead < nSize) {
    sqlite3_free(aBuf);
    sqlite3_result_error_code(pCtx, SQLITE_IOERR);
    return;
  }
  sqlite3_result_blob64(pCtx, aBuf, static_cast<sqlite3_uint64>(nSize), sqlite3_free);
}

// Whether the host's gate (the function's user data) lets a call of zFunction go on; when it
// does not, the call fails with "not authorized".
bool gateAllows(const FileioGate* pGate, const char* zFunction) {
  return pGate == nullptr || pGate->xAllow == nullptr || pGate->xAllow(pGate->pArg, zFunction) != 0;
}

bool callAllowed(sqlite3_context* pCtx, const char* zFunction) {
  if (gateAllows(static_cast<const FileioGate*>(sqlite3_user_data(pCtx)), zFunction)) return true;
  sqlite3_result_error(pCtx, "not authorized", -1);
  sqlite3_result_error_code(pCtx, SQLITE_AUTH);
  return false;
}

void readfileFunc(sqlite3_context* pCtx, int /*argc*/, sqlite3_value** argv) {
  if (!callAllowed(pCtx, "readfile")) return;
  auto* zPath = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (!zPath || !isUsablePath(argv[0], zPath)) return;
  loadFileBlob(pCtx, AT_FDCWD, zPath);
}

// Creates every missing directory above the last component of zPath.  Only '/' separates
// components; a prefix that exists but is not a directory is an error.
int createParentDirs(const char* zPath) {
  char* zCopy = sqlite3_mprintf("%s", zPath);
  if (!zCopy) return SQLITE_NOMEM;
  int rc = SQLITE_OK;
  // The scan starts after the first character (a leading '/' is the root), and an empty
  // path has no character to skip.
  for (char* p = zCopy + (zCopy[0] ? 1 : 0); rc == SQLITE_OK && *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    struct stat st;
    if (::stat(zCopy, &st) != 0) {
      if (::mkdir(zCopy, 0777) != 0) rc = SQLITE_ERROR;
    } else if (!S_ISDIR(st.st_mode)) {
      rc = SQLITE_ERROR;
    }
    *p = '/';
  }
  sqlite3_free(zCopy);
  return rc;
}

enum class StoreResult { ok, cannotCreate, cannotWrite };

// Writes DATA to the file zPath, or creates the directory that the type field of mMode asks
// for (every other type, a symbolic link's too, writes a plain file), then sets the
// modification time unless iMtime is negative.  *pErrno receives the system's error number of
// a failure.
StoreResult storeFile(sqlite3_context* pCtx, const char* zPath, sqlite3_value* pData,
                      unsigned mMode, sqlite3_int64 iMtime, int* pErrno) {
  const unsigned mType = mMode & mTypeField;
  const mode_t mPerm = static_cast<mode_t>(mMode & mPermissions);
  if (mType == mTypeDir) {
    if (::mkdir(zPath, mPerm) == 0) {
      // mkdir applies the umask; the caller asked for these bits exactly, as for files.
      if (::chmod(zPath, mPerm) != 0) {
        *pErrno = errno;
        return StoreResult::cannotWrite;
      }
    } else {
      int iErr = errno;
      struct stat st;
      if (iErr != EEXIST || ::stat(zPath, &st) != 0 || !S_ISDIR(st.st_mode) ||
          ((st.st_mode & mPermissions) != mPerm && ::chmod(zPath, mPerm) != 0)) {
        *pErrno = iErr;
        return StoreResult::cannotCreate;
      }
    }
  } else {
    FileDescriptor file(::open(zPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) {
      *pErrno = errno;
      return StoreResult::cannotCreate;
    }
    bool bFailed = false;
    const auto* aData = static_cast<const unsigned char*>(sqlite3_value_blob(pData));
    const sqlite3_int64 nData = aData ? sqlite3_value_bytes(pData) : 0;
    sqlite3_int64 nDone = 0;
    while (nDone < nData) {
      ssize_t n = ::write(file.get(), aData + nDone, static_cast<size_t>(nData - nDone));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        bFailed = true;
        break;
      }
      nDone += n;
    }
    if (!bFailed && mMode != 0 && ::fchmod(file.get(), mPerm) != 0) bFailed = true;
    int iErr = errno;
    if (!file.closeChecked() && !bFailed) {
      bFailed = true;
      iErr = errno;
    }
    if (bFailed) {
      *pErrno = iErr;
      return StoreResult::cannotWrite;
    }
    sqlite3_result_int64(pCtx, nData);
  }

  if (iMtime < 0) return StoreResult::ok;
  struct timespec aTimes[2];
  aTimes[0].tv_sec = 0;
  aTimes[0].tv_nsec = UTIME_NOW;
  aTimes[1].tv_sec = static_cast<time_t>(iMtime);
  aTimes[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, zPath, aTimes, 0) != 0) {
    *pErrno = errno;
    return StoreResult::cannotCreate;
  }
  return StoreResult::ok;
}

void writefileFunc(sqlite3_context* pCtx, int argc, sqlite3_value** argv) {
  if (!callAllowed(pCtx, "writefile")) return;
  if (argc < 2 || argc > 4) {
    sqlite3_result_error(pCtx, "wrong number of arguments to function writefile()", -1);
    return;
  }
  auto* zPath = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (!zPath) return;
  const unsigned mMode = argc >= 3 ? static_cast<uint16_t>(sqlite3_value_int(argv[2])) : 0;
  const sqlite3_int64 iMtime = argc == 4 ? sqlite3_value_int64(argv[3]) : iKeepTimes;

  StoreResult eRes = StoreResult::cannotCreate;
  int iErr = EINVAL;
  if (isUsablePath(argv[0], zPath)) {
    eRes = storeFile(pCtx, zPath, argv[1], mMode, iMtime, &iErr);
    if (eRes == StoreResult::cannotCreate && iErr == ENOENT) {
      int rc = createParentDirs(zPath);
      if (rc == SQLITE_NOMEM) {
        sqlite3_result_error_nomem(pCtx);
        return;
      }
      if (rc == SQLITE_OK) eRes = storeFile(pCtx, zPath, argv[1], mMode, iMtime, &iErr);
    }
  }
  if (argc > 2 && eRes != StoreResult::ok) {
    char* zMsg = sqlite3_mprintf((mMode & mTypeField) == mTypeDir ? "failed to create directory: %s"
                                                                  : "failed to write file: %s",
                                 zPath);
    if (!zMsg) {
      sqlite3_result_error_nomem(pCtx);
      return;
    }
    sqlite3_result_error(pCtx, zMsg, -1);
    sqlite3_free(zMsg);
  }
}

void lsmodeFunc(sqlite3_context* pCtx, int /*argc*/, sqlite3_value** argv) {
  char zOut[11];
  formatFileMode(static_cast<unsigned>(sqlite3_value_int(argv[0])), zOut);
  sqlite3_result_text(pCtx, zOut, 10, SQLITE_TRANSIENT);
}

// ---------------------------------------------------------------------------
// fsdir

// The current path of the walk, grown with the engine's allocator and reused from row to row.
// Each open directory's path is a prefix of it, so a level is remembered by its length only.
struct PathBuffer {
  char* z = nullptr;
  size_t n = 0;
  size_t nAlloc = 0;

  PathBuffer() = default;
  PathBuffer(const PathBuffer&) = delete;
  PathBuffer& operator=(const PathBuffer&) = delete;
  ~PathBuffer() { sqlite3_free(z); }

  bool reserve(size_t nNeed) {
    if (nNeed + 1 <= nAlloc) return true;
    size_t nNew = nAlloc * 2 > nNeed + 1 ? nAlloc * 2 : nNeed + 64;
    auto* zNew = static_cast<char*>(sqlite3_realloc64(z, nNew));
    if (!zNew) return false;
    z = zNew;
    nAlloc = nNew;
    return true;
  }
  // Cuts the text to nKeep bytes and appends zSep (when not null) and zPart.
  bool assign(size_t nKeep, const char* zSep, const char* zPart) {
    size_t nSep = zSep ? std::strlen(zSep) : 0;
    size_t nPart = std::strlen(zPart);
    if (!reserve(nKeep + nSep + nPart)) return false;
    if (nSep) std::memcpy(z + nKeep, zSep, nSep);
    std::memcpy(z + nKeep + nSep, zPart, nPart);
    n = nKeep + nSep + nPart;
    z[n] = '\0';
    return true;
  }
  void clear() {
    sqlite3_free(z);
    z = nullptr;
    n = nAlloc = 0;
  }
};

// One directory being enumerated: its handle, the length of its path within the walk's path,
// and its identity, by which a directory reached again through a symbolic link is recognised.
struct OpenDirLevel {
  DIR* hDir;
  size_t nDirPathLen;
  dev_t iDevice;
  ino_t iInode;
};

struct DirWalkTable {
  sqlite3_vtab base;
  const FileioGate* pGate;
};

struct DirWalkCursor {
  sqlite3_vtab_cursor base{};
  OpenDirLevel* aOpenDir = nullptr;
  int nOpenDirAlloc = 0;
  int iDepth = -1;
  size_t nBaseDirLen = 0;
  struct stat curStat {};
  PathBuffer zCurPath;
  // Where the current entry's own name starts in zCurPath.
  size_t iCurName = 0;
  bool bAtEnd = true;
  sqlite3_int64 iRowNum = 0;
};

void setTableError(sqlite3_vtab* pVtab, const char* zFormat, ...) {
  va_list ap;
  va_start(ap, zFormat);
  sqlite3_free(pVtab->zErrMsg);
  pVtab->zErrMsg = sqlite3_vmprintf(zFormat, ap);
  va_end(ap);
}

void resetCursor(DirWalkCursor* pCur) {
  for (int i = 0; i <= pCur->iDepth; ++i) {
    if (pCur->aOpenDir[i].hDir) ::closedir(pCur->aOpenDir[i].hDir);
  }
  sqlite3_free(pCur->aOpenDir);
  pCur->aOpenDir = nullptr;
  pCur->nOpenDirAlloc = 0;
  pCur->iDepth = -1;
  pCur->nBaseDirLen = 0;
  pCur->zCurPath.clear();
  pCur->iCurName = 0;
  pCur->bAtEnd = true;
  pCur->iRowNum = 1;
}

int fsdirConnect(sqlite3* db, void* pAux, int /*argc*/, const char* const* /*argv*/,
                 sqlite3_vtab** ppVtab, char** /*pzErr*/) {
  int rc = sqlite3_declare_vtab(db, zFsdirSchema);
  if (rc != SQLITE_OK) return rc;
  auto* pTab = static_cast<DirWalkTable*>(sqlite3_malloc(sizeof(DirWalkTable)));
  if (!pTab) return SQLITE_NOMEM;
  std::memset(pTab, 0, sizeof(*pTab));
  pTab->pGate = static_cast<const FileioGate*>(pAux);
  sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
  *ppVtab = &pTab->base;
  return SQLITE_OK;
}

int fsdirDisconnect(sqlite3_vtab* pVtab) {
  sqlite3_free(pVtab);
  return SQLITE_OK;
}

int fsdirOpen(sqlite3_vtab* /*pVtab*/, sqlite3_vtab_cursor** ppCursor) {
  auto* pCur = new (std::nothrow) DirWalkCursor;
  if (!pCur) return SQLITE_NOMEM;
  *ppCursor = &pCur->base;
  return SQLITE_OK;
}

int fsdirClose(sqlite3_vtab_cursor* pCursor) {
  auto* pCur = reinterpret_cast<DirWalkCursor*>(pCursor);
  resetCursor(pCur);
  delete pCur;
  return SQLITE_OK;
}

// Fills curStat for the entry named zName inside the directory open as dirFd (AT_FDCWD for a
// path of its own).  Links are followed; a link whose target is missing or which loops is
// reported as the link itself, so one broken link does not end the walk.
bool statEntry(int dirFd, const char* zName, struct stat* pStat) {
  if (::fstatat(dirFd, zName, pStat, 0) == 0) return true;
  return ::fstatat(dirFd, zName, pStat, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(pStat->st_mode);
}

int fsdirNext(sqlite3_vtab_cursor* pCursor) {
  auto* pCur = reinterpret_cast<DirWalkCursor*>(pCursor);
  sqlite3_vtab* pVtab = pCursor->pVtab;
  pCur->iRowNum++;

  if (S_ISDIR(pCur->curStat.st_mode)) {
    // A directory that is already open further up was reached again through a link: its
    // contents are being listed, and descending again would never end.
    bool bRevisit = false;
    for (int i = 0; i <= pCur->iDepth && !bRevisit; ++i) {
      bRevisit = pCur->aOpenDir[i].iDevice == pCur->curStat.st_dev &&
                 pCur->aOpenDir[i].iInode == pCur->curStat.st_ino;
    }
    if (!bRevisit) {
      int iNew = pCur->iDepth + 1;
      if (iNew >= pCur->nOpenDirAlloc) {
        auto* aNew = static_cast<OpenDirLevel*>(
            sqlite3_realloc64(pCur->aOpenDir, sizeof(OpenDirLevel) * (iNew + 1)));
        if (!aNew) return SQLITE_NOMEM;
        std::memset(&aNew[pCur->nOpenDirAlloc], 0,
                    sizeof(OpenDirLevel) * (iNew + 1 - pCur->nOpenDirAlloc));
        pCur->aOpenDir = aNew;
        pCur->nOpenDirAlloc = iNew + 1;
      }
      // Open through the parent's handle where there is one: the kernel then resolves one
      // name instead of the whole path.
      int fd;
      if (pCur->iDepth >= 0) {
        fd = ::openat(::dirfd(pCur->aOpenDir[pCur->iDepth].hDir), pCur->zCurPath.z + pCur->iCurName,
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      } else {
        fd = ::open(pCur->zCurPath.z, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      }
      DIR* hDir = fd >= 0 ? ::fdopendir(fd) : nullptr;
      if (!hDir) {
        if (fd >= 0) ::close(fd);
        setTableError(pVtab, "cannot read directory: %s", pCur->zCurPath.z);
        return SQLITE_ERROR;
      }
      OpenDirLevel& level = pCur->aOpenDir[iNew];
      level.hDir = hDir;
      level.nDirPathLen = pCur->zCurPath.n;
      level.iDevice = pCur->curStat.st_dev;
      level.iInode = pCur->curStat.st_ino;
      pCur->iDepth = iNew;
    }
  }

  while (pCur->iDepth >= 0) {
    OpenDirLevel& level = pCur->aOpenDir[pCur->iDepth];
    errno = 0;
    struct dirent* pEntry = ::readdir(level.hDir);
    if (pEntry) {
      const char* zName = pEntry->d_name;
      if (zName[0] == '.' && (zName[1] == '\0' || (zName[1] == '.' && zName[2] == '\0'))) {
        continue;
      }
      if (!pCur->zCurPath.assign(level.nDirPathLen, "/", zName)) return SQLITE_NOMEM;
      pCur->iCurName = level.nDirPathLen + 1;
      if (!statEntry(::dirfd(level.hDir), zName, &pCur->curStat)) {
        setTableError(pVtab, "cannot stat file: %s", pCur->zCurPath.z);
        return SQLITE_ERROR;
      }
      return SQLITE_OK;
    }
    ::closedir(level.hDir);
    level.hDir = nullptr;
    level.nDirPathLen = 0;
    pCur->iDepth--;
  }
  pCur->zCurPath.clear();
  pCur->bAtEnd = true;
  return SQLITE_OK;
}

int fsdirColumn(sqlite3_vtab_cursor* pCursor, sqlite3_context* pCtx, int i) {
  auto* pCur = reinterpret_cast<DirWalkCursor*>(pCursor);
  switch (i) {
    case iColName:
      sqlite3_result_text64(pCtx, pCur->zCurPath.z + pCur->nBaseDirLen,
                            pCur->zCurPath.n - pCur->nBaseDirLen, SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case iColMode:
      sqlite3_result_int64(pCtx, static_cast<sqlite3_int64>(pCur->curStat.st_mode));
      break;
    case iColMtime:
      sqlite3_result_int64(pCtx, static_cast<sqlite3_int64>(pCur->curStat.st_mtime));
      break;
    case iColData:
      // Below the start the innermost open directory holds the entry: opening the name
      // through it is shorter work for the kernel and not bound by the full path's length.
      if ((pCur->curStat.st_mode & mTypeField) == mTypeDir) break;
      if (pCur->iDepth >= 0) {
        loadFileBlob(pCtx, ::dirfd(pCur->aOpenDir[pCur->iDepth].hDir),
                     pCur->zCurPath.z + pCur->iCurName);
      } else {
        loadFileBlob(pCtx, AT_FDCWD, pCur->zCurPath.z);
      }
      break;
    default:  // path and dir are inputs only and read as NULL
      break;
  }
  return SQLITE_OK;
}

int fsdirRowid(sqlite3_vtab_cursor* pCursor, sqlite3_int64* pRowid) {
  *pRowid = reinterpret_cast<DirWalkCursor*>(pCursor)->iRowNum;
  return SQLITE_OK;
}

int fsdirEof(sqlite3_vtab_cursor* pCursor) {
  return reinterpret_cast<DirWalkCursor*>(pCursor)->bAtEnd;
}

int fsdirFilter(sqlite3_vtab_cursor* pCursor, int idxNum, const char* /*idxStr*/, int argc,
                sqlite3_value** argv) {
  auto* pCur = reinterpret_cast<DirWalkCursor*>(pCursor);
  sqlite3_vtab* pVtab = pCursor->pVtab;
  resetCursor(pCur);
  if (!gateAllows(reinterpret_cast<DirWalkTable*>(pVtab)->pGate, "fsdir")) {
    setTableError(pVtab, "not authorized");
    return SQLITE_AUTH;
  }
  if (idxNum == 0 || argc < 1) {
    setTableError(pVtab, "table function fsdir requires an argument");
    return SQLITE_ERROR;
  }
  auto* zPath = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  if (!zPath) {
    setTableError(pVtab, "table function fsdir requires a non-NULL argument");
    return SQLITE_ERROR;
  }
  bool bUsable = isUsablePath(argv[0], zPath);
  const char* zBaseDir = nullptr;
  if (argc == 2) zBaseDir = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  bool bOk;
  if (zBaseDir) {
    bUsable = bUsable && isUsablePath(argv[1], zBaseDir);
    pCur->nBaseDirLen = std::strlen(zBaseDir) + 1;
    bOk = pCur->zCurPath.assign(0, nullptr, zBaseDir) &&
          pCur->zCurPath.assign(pCur->zCurPath.n, "/", zPath);
  } else {
    bOk = pCur->zCurPath.assign(0, nullptr, zPath);
  }
  if (!bOk) return SQLITE_NOMEM;
  pCur->iCurName = 0;
  if (!bUsable || !statEntry(AT_FDCWD, pCur->zCurPath.z, &pCur->curStat)) {
    setTableError(pVtab, "cannot stat file: %s", pCur->zCurPath.z);
    return SQLITE_ERROR;
  }
  pCur->bAtEnd = false;
  return SQLITE_OK;
}

int fsdirBestIndex(sqlite3_vtab* /*pVtab*/, sqlite3_index_info* pIdxInfo) {
  int iPathArg = -1;
  int iDirArg = -1;
  bool bPathBlocked = false;
  bool bDirBlocked = false;
  for (int i = 0; i < pIdxInfo->nConstraint; ++i) {
    const auto& c = pIdxInfo->aConstraint[i];
    if (c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    if (c.iColumn == iColPath) {
      if (!c.usable) {
        if (iPathArg < 0) bPathBlocked = true;
      } else {
        iPathArg = i;
        bPathBlocked = false;
      }
    } else if (c.iColumn == iColDir) {
      if (!c.usable) {
        if (iDirArg < 0) bDirBlocked = true;
      } else {
        iDirArg = i;
        bDirBlocked = false;
      }
    }
  }
  if (bPathBlocked || bDirBlocked) return SQLITE_CONSTRAINT;
  if (iPathArg < 0) {
    pIdxInfo->idxNum = 0;
    pIdxInfo->estimatedRows = 0x7FFFFFFF;
    return SQLITE_OK;
  }
  pIdxInfo->aConstraintUsage[iPathArg].argvIndex = 1;
  pIdxInfo->aConstraintUsage[iPathArg].omit = 1;
  if (iDirArg >= 0) {
    pIdxInfo->aConstraintUsage[iDirArg].argvIndex = 2;
    pIdxInfo->aConstraintUsage[iDirArg].omit = 1;
    pIdxInfo->idxNum = 2;
    pIdxInfo->estimatedCost = 10.0;
  } else {
    pIdxInfo->idxNum = 1;
    pIdxInfo->estimatedCost = 100.0;
  }
  return SQLITE_OK;
}

const sqlite3_module fsdirModule = {
    /* iVersion */ 0,
    /* xCreate */ nullptr,
    /* xConnect */ fsdirConnect,
    /* xBestIndex */ fsdirBestIndex,
    /* xDisconnect */ fsdirDisconnect,
    /* xDestroy */ nullptr,
    /* xOpen */ fsdirOpen,
    /* xClose */ fsdirClose,
    /* xFilter */ fsdirFilter,
    /* xNext */ fsdirNext,
    /* xEof */ fsdirEof,
    /* xColumn */ fsdirColumn,
    /* xRowid */ fsdirRowid,
    /* xUpdate */ nullptr,
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

}  // namespace

void formatFileMode(unsigned mMode, char zOut[11]) {
  const unsigned mType = mMode & mTypeField;
  zOut[0] = mType == mTypeFile ? '-' : mType == mTypeDir ? 'd' : '?';
  for (int iGroup = 0; iGroup < 3; ++iGroup) {
    unsigned mBits = (mMode >> (6 - 3 * iGroup)) & 7;
    zOut[1 + 3 * iGroup] = (mBits & 4) ? 'r' : '-';
    zOut[2 + 3 * iGroup] = (mBits & 2) ? 'w' : '-';
    zOut[3 + 3 * iGroup] = (mBits & 1) ? 'x' : '-';
  }
  zOut[10] = '\0';
}

int fileioRegister(sqlite3* db, const FileioGate* pGate) {
  // The engine's interface takes the gate as mutable user data; it is only read.
  void* pApp = const_cast<FileioGate*>(pGate);
  int rc = sqlite3_create_function(db, "readfile", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, pApp,
                                   readfileFunc, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "writefile", -1, SQLITE_UTF8 | SQLITE_DIRECTONLY, pApp,
                                 writefileFunc, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "lsmode", 1, SQLITE_UTF8, nullptr, lsmodeFunc, nullptr,
                                 nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_create_module(db, "fsdir", &fsdirModule, pApp);
  return rc;
}
