// Lazy opening of the current connection, database-kind detection, database
// images (whole files and hex dumps) and the shell's own SQL functions.
#include "shell/core/OpenDatabase.h"

#include <cstdio>
#include <cstring>

#include "ext/completion/Completion.h"
#include "ext/decimal/Decimal.h"
#include "ext/edit/Edit.h"
#include "ext/fileio/Fileio.h"
#include "ext/ieee754/Ieee754.h"
#include "ext/regexp/Regexp.h"
#include "ext/series/Series.h"
#include "ext/sha3/Sha3.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"

namespace {

bool isTempSchema(const char* zSchema) {
  return sqlite3_stricmp(zSchema, "temp") == 0;
}

// ---------------------------------------------------------------------------
// The shell's SQL functions.

// shell_add_schema(SQL, SCHEMA, NAME): the CREATE statement with the schema
// name put in front of the object name, and a comment with the columns of a
// view or virtual table.
void shellAddSchemaFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  static const char* const azKind[] = {"TABLE", "INDEX",   "UNIQUE INDEX",
                                       "VIEW",  "TRIGGER", "VIRTUAL TABLE"};
  const char* zIn = reinterpret_cast<const char*>(sqlite3_value_text(apVal[0]));
  const char* zSchema = reinterpret_cast<const char*>(sqlite3_value_text(apVal[1]));
  const char* zName = reinterpret_cast<const char*>(sqlite3_value_text(apVal[2]));
  if (zIn != nullptr && std::strncmp(zIn, "CREATE ", 7) == 0) {
    for (const char* zKind : azKind) {
      int n = static_cast<int>(std::strlen(zKind));
      if (std::strncmp(zIn + 7, zKind, static_cast<size_t>(n)) != 0 || zIn[n + 7] != ' ') continue;
      char* z = nullptr;
      if (zSchema != nullptr) {
        if (identQuoteChar(zSchema) && !isTempSchema(zSchema)) {
          z = sqlite3_mprintf("%.*s \"%w\".%s", n + 7, zIn, zSchema, zIn + n + 8);
        } else {
          z = sqlite3_mprintf("%.*s %s.%s", n + 7, zIn, zSchema, zIn + n + 8);
        }
        if (z == nullptr) {
          sqlite3_result_error_nomem(pCtx);
          return;
        }
      }
      if (zName != nullptr && zKind[0] == 'V') {
        bool bNoMemory = false;
        CPtr zFake(fakeSchema(sqlite3_context_db_handle(pCtx), zSchema, zName, &bNoMemory));
        if (bNoMemory) {
          sqlite3_free(z);
          sqlite3_result_error_nomem(pCtx);
          return;
        }
        if (zFake) {
          z = z ? sqlite3_mprintf("%z\n/* %s */", z, zFake.get())
                : sqlite3_mprintf("%s\n/* %s */", zIn, zFake.get());
          if (z == nullptr) {
            sqlite3_result_error_nomem(pCtx);
            return;
          }
        }
      }
      if (z != nullptr) {
        sqlite3_result_text(pCtx, z, -1, sqlite3_free);
        return;
      }
    }
  }
  sqlite3_result_value(pCtx, apVal[0]);
}

// shell_module_schema(NAME): "/* name(col,...) */" for a table of main.
void shellModuleSchemaFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  const char* zName = reinterpret_cast<const char*>(sqlite3_value_text(apVal[0]));
  if (zName == nullptr) return;
  bool bNoMemory = false;
  CPtr zFake(fakeSchema(sqlite3_context_db_handle(pCtx), nullptr, zName, &bNoMemory));
  if (bNoMemory) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  if (!zFake) return;
  char* z = sqlite3_mprintf("/* %s */", zFake.get());
  if (z == nullptr) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_result_text(pCtx, z, -1, sqlite3_free);
}

// shell_putsnl(X): prints X and a line end on the current output; returns X.
void shellPutsnlFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  auto* p = static_cast<ShellContext*>(sqlite3_user_data(pCtx));
  printConsole(p->pOut, "%s\n", reinterpret_cast<const char*>(sqlite3_value_text(apVal[0])));
  sqlite3_result_value(pCtx, apVal[0]);
}

// shell_escape_crnl(X): a quoted SQL literal with its line feeds and carriage
// returns turned into markers inside replace() calls.
void shellEscapeCrnlFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  // The type is tested first: taking the text of a blob changes its type.
  if (sqlite3_value_type(apVal[0]) != SQLITE_TEXT) {
    sqlite3_result_value(pCtx, apVal[0]);
    return;
  }
  const char* zText = reinterpret_cast<const char*>(sqlite3_value_text(apVal[0]));
  if (zText == nullptr || zText[0] != '\'') {
    sqlite3_result_value(pCtx, apVal[0]);
    return;
  }
  bool bNL = std::strchr(zText, '\n') != nullptr;
  bool bCR = std::strchr(zText, '\r') != nullptr;
  if (!bNL && !bCR) {
    sqlite3_result_value(pCtx, apVal[0]);
    return;
  }
  char zBufNL[20];
  char zBufCR[20];
  const char* zNL = bNL ? findUnusedMarker(zText, "\\n", "\\012", zBufNL) : nullptr;
  const char* zCR = bCR ? findUnusedMarker(zText, "\\r", "\\015", zBufCR) : nullptr;
  sqlite3_str* pStr = sqlite3_str_new(nullptr);
  sqlite3_str_appendall(pStr, bNL && bCR ? "replace(replace(" : "replace(");
  for (const char* z = zText; *z;) {
    size_t n = std::strcspn(z, "\n\r");
    sqlite3_str_append(pStr, z, static_cast<int>(n));
    z += n;
    if (*z == 0) break;
    sqlite3_str_appendall(pStr, *z == '\n' ? zNL : zCR);
    z++;
  }
  if (bNL) sqlite3_str_appendf(pStr, ",'%s', char(10))", zNL);
  if (bCR) sqlite3_str_appendf(pStr, ",'%s', char(13))", zCR);
  int nResult = sqlite3_str_length(pStr);
  int rc = sqlite3_str_errcode(pStr);
  char* zResult = sqlite3_str_finish(pStr);
  if (rc != SQLITE_OK || zResult == nullptr) {
    sqlite3_free(zResult);
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_result_text(pCtx, zResult, nResult, sqlite3_free);
}

// shell_int32(BLOB, I): the I-th big-endian 32-bit unsigned integer of BLOB.
void shellInt32Func(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  const auto* a = static_cast<const unsigned char*>(sqlite3_value_blob(apVal[0]));
  sqlite3_int64 nBlob = sqlite3_value_bytes(apVal[0]);
  sqlite3_int64 iInt = sqlite3_value_int64(apVal[1]);
  if (a == nullptr || iInt < 0 || iInt > nBlob / 4 || (iInt + 1) * 4 > nBlob) return;
  const unsigned char* q = a + iInt * 4;
  sqlite3_int64 v = (static_cast<sqlite3_int64>(q[0]) << 24) | (q[1] << 16) | (q[2] << 8) | q[3];
  sqlite3_result_int64(pCtx, v);
}

// shell_idquote(X): X as a double-quoted SQL identifier.
void shellIdQuoteFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  const char* zName = reinterpret_cast<const char*>(sqlite3_value_text(apVal[0]));
  if (zName == nullptr) return;
  char* z = sqlite3_mprintf("\"%w\"", zName);
  if (z == nullptr) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_result_text(pCtx, z, -1, sqlite3_free);
}

// usleep(N): sleeps N microseconds (in whole milliseconds) and returns N.
void shellUsleepFunc(sqlite3_context* pCtx, int, sqlite3_value** apVal) {
  int nUsec = sqlite3_value_int(apVal[0]);
  // A negative count would become an endless sleep in some sleep primitives.
  if (nUsec > 0) sqlite3_sleep(nUsec / 1000);
  sqlite3_result_int(pCtx, nUsec);
}

// load_extension(FILE [, ENTRY]): the engine's function, asked of the safe-mode
// gate first.  A NULL file loads nothing and returns NULL.
void loadExtensionFunc(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg) {
  allowOutsideReach(sqlite3_user_data(pCtx), "load_extension");
  const auto* zFile = reinterpret_cast<const char*>(sqlite3_value_text(apArg[0]));
  const char* zProc =
      nArg == 2 ? reinterpret_cast<const char*>(sqlite3_value_text(apArg[1])) : nullptr;
  if (zFile == nullptr) return;
  char* zErr = nullptr;
  if (sqlite3_load_extension(sqlite3_context_db_handle(pCtx), zFile, zProc, &zErr) != SQLITE_OK) {
    sqlite3_result_error(pCtx, zErr != nullptr ? zErr : "unable to load the extension", -1);
  }
  sqlite3_free(zErr);
}

// A registration that ran out of memory leaves the connection without some of
// its functions, and a later statement would fail with a misleading "no such
// function"; it ends the process like any other exhaustion.  Other failures
// are ignored.
static void checkRegistration(int rc) {
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
}

// The built-in extensions, registered on every new connection in this fixed
// order: sha3, uint, decimal, regexp, ieee754, series, fileio, completion.
// fileio asks p's gate before every use of the file system.
void registerExtensions(sqlite3* db, ShellContext* p) {
  p->fileioGate = {allowOutsideReach, p};
  checkRegistration(sha3Register(db));
  checkRegistration(uintRegister(db));
  checkRegistration(decimalRegister(db));
  checkRegistration(regexpRegister(db));
  checkRegistration(ieee754Register(db));
  checkRegistration(seriesRegister(db));
  checkRegistration(fileioRegister(db, &p->fileioGate));
  checkRegistration(completionRegister(db));
}

void registerShellFunctions(sqlite3* db, ShellContext* p) {
  checkRegistration(sqlite3_create_function(db, "shell_add_schema", 3, SQLITE_UTF8, nullptr,
                                            shellAddSchemaFunc, nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "shell_module_schema", 1, SQLITE_UTF8, nullptr,
                                            shellModuleSchemaFunc, nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "shell_putsnl", 1, SQLITE_UTF8, p, shellPutsnlFunc,
                                            nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "shell_escape_crnl", 1, SQLITE_UTF8, nullptr,
                                            shellEscapeCrnlFunc, nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "shell_int32", 2, SQLITE_UTF8, nullptr,
                                            shellInt32Func, nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "shell_idquote", 1, SQLITE_UTF8, nullptr,
                                            shellIdQuoteFunc, nullptr, nullptr));
  checkRegistration(sqlite3_create_function(db, "usleep", 1, SQLITE_UTF8, nullptr, shellUsleepFunc,
                                            nullptr, nullptr));
  // edit() with one and with two arguments; direct-only, so that a view or a
  // trigger of a database from elsewhere cannot start a program, and gated,
  // so that no expression of a schema can either in safe mode.
  p->editGate = {allowOutsideReach, p};
  checkRegistration(editRegister(db, &p->editGate));
  // load_extension() in place of the engine's own, with the same gate.
  for (int nArg : {1, 2}) {
    checkRegistration(sqlite3_create_function(db, "load_extension", nArg,
                                              SQLITE_UTF8 | SQLITE_DIRECTONLY, p, loadExtensionFunc,
                                              nullptr, nullptr));
  }
}

// ---------------------------------------------------------------------------
// Hex dumps.

constexpr int nHexLine = 1000;  // lines up to 999 characters; longer ones come in pieces

bool isEndLine(const char* zLine) {
  return std::strncmp(zLine, "| end ", 6) == 0;
}

// Largest image a hex dump may describe (the engine's allocator takes an int).
constexpr sqlite3_int64 nMaxHexImage = 0x7fff0000;

}  // namespace

// ---------------------------------------------------------------------------

int openDatabase(ShellContext* p, int openFlags) {
  // On every way out, a fallback connection included, the connection gets
  // the authorizer it should carry (the safe-mode one while safe mode is on).
  struct AuthorizerOnReturn {
    ShellContext* p;
    AuthChoice eChoice;
    ~AuthorizerOnReturn() { installAuthorizer(p, eChoice); }
  } onReturn{p, p->db == nullptr ? AuthChoice::Fresh : AuthChoice::Keep};
  if (p->db != nullptr) return 0;
  const char* zName = p->pConn->zFilename;
  const char* zOpen = zName ? zName : "";
  if (p->eOpenMode == OpenMode::Unknown) {
    if (zOpen[0] == 0 || std::strcmp(zOpen, ":memory:") == 0) {
      p->eOpenMode = OpenMode::Normal;
    } else {
      p->eOpenMode = detectDatabaseKind(zOpen, (openFlags & zipDefault) != 0);
    }
  }
  switch (p->eOpenMode) {
    case OpenMode::Append:
      sqlite3_open_v2(zOpen, &p->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | p->mOpenFlags,
                      "apndvfs");
      break;
    case OpenMode::Zip:
    case OpenMode::Deserialize:
    case OpenMode::HexDump:
      sqlite3_open(p->eOpenMode == OpenMode::Zip ? ":memory:" : "", &p->db);
      break;
    case OpenMode::ReadOnly:
      sqlite3_open_v2(zOpen, &p->db, SQLITE_OPEN_READONLY | p->mOpenFlags, nullptr);
      break;
    default:
      sqlite3_open_v2(zOpen, &p->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | p->mOpenFlags,
                      nullptr);
      break;
  }
  dbForInterrupt = p->db;
  p->nDatabasesOpened++;
  if (p->db == nullptr || sqlite3_errcode(p->db) != SQLITE_OK) {
    printConsole(stderr, "Error: unable to open database \"%s\": %s\n", zOpen,
                 p->db ? sqlite3_errmsg(p->db) : "out of memory");
    if ((openFlags & keepAlive) == 0) std::exit(1);
    // The failed handle is released; Ctrl-C must not reach it afterwards.
    sqlite3_close(p->db);
    p->db = nullptr;
    sqlite3_open(":memory:", &p->db);
    dbForInterrupt = p->db;
    return 1;
  }
  sqlite3_enable_load_extension(p->db, 1);
  registerExtensions(p->db, p);
  registerShellFunctions(p->db, p);
  if (p->eOpenMode == OpenMode::Zip) {
    SqlitePtr zSql(sqlite3_mprintf("CREATE VIRTUAL TABLE zip USING zipfile(%Q);", zOpen));
    if (zSql) sqlite3_exec(p->db, zSql.get(), nullptr, nullptr, nullptr);
    return 0;
  }
  if (p->eOpenMode != OpenMode::Deserialize && p->eOpenMode != OpenMode::HexDump) return 0;
  int nData = 0;
  unsigned char* aData = nullptr;
  bool bLoaded = true;
  if (p->eOpenMode == OpenMode::HexDump) {
    aData = readHexDump(p, &nData);
    if (aData == nullptr) return 1;
  } else if (zName != nullptr) {
    aData = readWholeFile(zName, &nData);
    if (aData == nullptr) {
      // An image that cannot be read gives an empty database, and a failed
      // open: what the user meant to load is not there.
      printConsole(stderr, "cannot open \"%s\" for reading\n", zName);
      nData = 0;
      bLoaded = false;
    }
  }
  int rc = sqlite3_deserialize(p->db, "main", aData, nData, nData,
                               SQLITE_DESERIALIZE_RESIZEABLE | SQLITE_DESERIALIZE_FREEONCLOSE);
  if (rc) printConsole(stderr, "Error: sqlite3_deserialize() returns %d\n", rc);
  if (p->nMaxDbSize > 0) {
    sqlite3_file_control(p->db, "main", SQLITE_FCNTL_SIZE_LIMIT, &p->nMaxDbSize);
  }
  return rc == SQLITE_OK && bLoaded ? 0 : 1;
}

OpenMode detectDatabaseKind(const char* zName, int bDfltZip) {
  bool bZipName = bDfltZip && sqlite3_strlike("%.zip", zName, 0) == 0;
  FilePtr f(std::fopen(zName, "rb"));
  if (!f) return bZipName ? OpenMode::Zip : OpenMode::Normal;
  char zBuf[100];
  size_t n = std::fread(zBuf, 16, 1, f.get());
  if (n == 1 && std::memcmp(zBuf, "SQLite format 3", 16) == 0) return OpenMode::Normal;
  OpenMode rc = OpenMode::Unknown;
  std::fseek(f.get(), -25, SEEK_END);
  n = std::fread(zBuf, 25, 1, f.get());
  if (n == 1 && std::memcmp(zBuf, "Start-Of-SQLite3-", 17) == 0) {
    rc = OpenMode::Append;
  } else {
    std::fseek(f.get(), -22, SEEK_END);
    n = std::fread(zBuf, 22, 1, f.get());
    if (n == 1 && zBuf[0] == 'P' && zBuf[1] == 'K' && zBuf[2] == 0x05 && zBuf[3] == 0x06) {
      rc = OpenMode::Zip;
    } else if (n == 0 && bZipName) {
      rc = OpenMode::Zip;
    }
  }
  return rc;
}

unsigned char* readWholeFile(const char* zName, int* pnByte) {
  FilePtr f(std::fopen(zName, "rb"));
  if (!f) return nullptr;
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return nullptr;
  long nIn = std::ftell(f.get());
  // The length is reported as an int: larger files cannot be loaded.
  if (nIn < 0 || nIn >= 0x7fffffff) return nullptr;
  std::rewind(f.get());
  auto* pBuf = static_cast<unsigned char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(nIn) + 1));
  if (pBuf == nullptr) return nullptr;
  size_t nRead = std::fread(pBuf, 1, static_cast<size_t>(nIn), f.get());
  if (nRead != static_cast<size_t>(nIn)) {
    sqlite3_free(pBuf);
    return nullptr;
  }
  pBuf[nIn] = 0;
  if (pnByte) *pnByte = static_cast<int>(nIn);
  return pBuf;
}

unsigned char* readHexDump(ShellContext* p, int* pnData) {
  const char* zName = p->pConn->zFilename;
  FilePtr fOwned;
  FILE* in = nullptr;
  int nLine = 0;
  if (zName != nullptr && zName[0] != 0) {
    fOwned.reset(std::fopen(zName, "r"));
    if (!fOwned) {
      printConsole(stderr, "cannot open \"%s\" for reading\n", zName);
      return nullptr;
    }
    in = fOwned.get();
  } else {
    in = p->pIn ? p->pIn : stdin;
    nLine = p->iLineNo;
  }
  char zLine[nHexLine];
  unsigned char* a = nullptr;
  sqlite3_int64 n = 0;
  int pgsz = 0;
  bool bOk = false;
  // A line longer than the buffer comes in pieces: only its last piece (the
  // one holding the newline) ends a line of the count.
  bool bMidLine = false;
  auto readPiece = [&]() {
    // The last byte is cleared by fgets only when it filled the whole buffer
    // (the line may hold zero bytes, so its length does not tell).
    zLine[sizeof(zLine) - 1] = 1;
    if (std::fgets(zLine, sizeof(zLine), in) == nullptr) return false;
    if (!bMidLine) nLine++;
    bMidLine = zLine[sizeof(zLine) - 1] == 0 && zLine[sizeof(zLine) - 2] != '\n';
    return true;
  };
  const bool bHaveHeader = readPiece();
  if (!bHaveHeader) nLine++;  // the missing header line is the one in error
  if (bHaveHeader) {
    int nSize = 0;
    if (std::sscanf(zLine, "| size %d pagesize %d", &nSize, &pgsz) == 2 && nSize >= 0 &&
        pgsz >= 512 && pgsz <= 65536 && (pgsz & (pgsz - 1)) == 0) {
      n = (static_cast<sqlite3_int64>(nSize) + pgsz - 1) & ~static_cast<sqlite3_int64>(pgsz - 1);
      bOk = n <= nMaxHexImage;
    }
  }
  if (bOk) {
    a = checkAlloc(static_cast<unsigned char*>(sqlite3_malloc(n > 0 ? static_cast<int>(n) : 1)));
    std::memset(a, 0, static_cast<size_t>(n));
    sqlite3_int64 iOffset = 0;
    while (readPiece()) {
      if (isEndLine(zLine)) break;
      int j = 0;
      int k = 0;
      if (std::sscanf(zLine, "| page %d offset %d", &j, &k) == 2) {
        iOffset = k;
        continue;
      }
      unsigned x[16];
      if (std::sscanf(zLine, "| %d: %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x", &j, &x[0],
                      &x[1], &x[2], &x[3], &x[4], &x[5], &x[6], &x[7], &x[8], &x[9], &x[10], &x[11],
                      &x[12], &x[13], &x[14], &x[15]) == 17) {
        sqlite3_int64 iAt = iOffset + j;
        if (iAt >= 0 && iAt + 16 <= n) {
          for (int ii = 0; ii < 16; ii++) a[iAt + ii] = static_cast<unsigned char>(x[ii] & 0xff);
        }
      }
    }
    *pnData = static_cast<int>(n);
    if (!fOwned && in == p->pIn) p->iLineNo = nLine;
    return a;
  }
  // Bad first line: skip the rest of the dump on the current input so that
  // reading goes on after it.
  if (!fOwned) {
    while (readPiece()) {
      if (isEndLine(zLine)) break;
    }
    if (in == p->pIn) p->iLineNo = nLine;
  }
  printConsole(stderr, "Error on line %d of --hexdb input\n", nLine);
  return nullptr;
}

void closeConnection(sqlite3* db) {
  int rc = sqlite3_close(db);
  if (rc) {
    printConsole(stderr, "Error: sqlite3_close() returns %d: %s\n", rc, sqlite3_errmsg(db));
  } else if (db != nullptr && dbForInterrupt == db) {
    // Ctrl-C must never reach a closed connection.
    dbForInterrupt = nullptr;
  }
}

char* fakeSchema(sqlite3* db, const char* zSchema, const char* zName, bool* pbNoMemory) {
  *pbNoMemory = false;
  SqlitePtr zSql(
      sqlite3_mprintf("PRAGMA \"%w\".table_info=%Q;", zSchema ? zSchema : "main", zName));
  if (!zSql) {
    *pbNoMemory = true;
    return nullptr;
  }
  int rc = SQLITE_OK;
  StmtPtr pStmt = prepareStmt(db, zSql.get(), &rc);
  if (!pStmt) {
    *pbNoMemory = rc == SQLITE_NOMEM;
    return nullptr;
  }
  TextBuffer s;
  textInit(&s);
  if (zSchema != nullptr) {
    textAppend(&s, zSchema, isTempSchema(zSchema) ? 0 : identQuoteChar(zSchema));
    textAppend(&s, ".", 0);
  }
  textAppend(&s, zName, identQuoteChar(zName));
  int nRow = 0;
  while ((rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
    const char* zCol = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1));
    if (zCol == nullptr && sqlite3_errcode(db) == SQLITE_NOMEM) rc = SQLITE_NOMEM;
    if (rc == SQLITE_NOMEM) break;
    if (zCol == nullptr) zCol = "";
    textAppend(&s, nRow++ == 0 ? "(" : ",", 0);
    textAppend(&s, zCol, identQuoteChar(zCol));
  }
  if (rc == SQLITE_NOMEM || nRow == 0) {
    *pbNoMemory = rc == SQLITE_NOMEM;
    textFree(&s);
    return nullptr;
  }
  textAppend(&s, ")", 0);
  return s.z;
}
