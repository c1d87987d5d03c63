#include "shell/core/ShellContext.h"

#include "shell/core/Output.h"

#include <cstring>

#include "shell/core/ArgParsers.h"

const char* const modeNames[nModes] = {
    "line",     "column", "list",    "semi",  "html",        "insert", "quote",
    "tcl",      "csv",    "explain", "ascii", "prettyprint", "eqp",    "json",
    "markdown", "table",  "box",     "count", "off",
};

int bStdinIsTty = 1;
int bStdoutIsConsole = 1;
int bBailOnError = 0;
sqlite3* volatile dbForInterrupt = nullptr;
volatile int nInterrupts = 0;
const char* zProgName = nullptr;
char zMainPrompt[nSepSize] = "sqlite> ";
char zContPrompt[nSepSize] = "   ...> ";
int bTimer = 0;

void checkUnconfigured() {
  if (sqlite3_config(-1) == SQLITE_MISUSE) {
    std::fputs("WARNING: attempt to configure SQLite after initialization.\n", stdout);
  }
}

void initShellContext(ShellContext* p) {
  std::memset(static_cast<void*>(p), 0, sizeof(*p));
  p->eMode = p->eModeNow = p->eModeBeforeExplain = OutputMode::List;
  p->bAutoExplain = 1;
  p->pConn = &p->aConn[0];
  setSettingText(p->zColSep, "|");
  setSettingText(p->zRowSep, "\n");
  p->bHeaders = 0;
  p->mFlags = ShellFlag::Lookaside;
  checkUnconfigured();
  sqlite3_config(SQLITE_CONFIG_URI, 1);
  sqlite3_config(SQLITE_CONFIG_LOG, logToFile, p);
  sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
  setSettingText(zMainPrompt, "sqlite> ");
  setSettingText(zContPrompt, "   ...> ");
}

void saveOutputMode(ShellContext* p) {
  p->eModeSaved = p->eMode;
  p->mFlagsSaved = p->mFlags;
  std::memcpy(p->zColSepSaved, p->zColSep, sizeof(p->zColSep));
  std::memcpy(p->zRowSepSaved, p->zRowSep, sizeof(p->zRowSep));
}

void restoreOutputMode(ShellContext* p) {
  p->eMode = p->eModeSaved;
  p->mFlags = p->mFlagsSaved;
  std::memcpy(p->zColSep, p->zColSepSaved, sizeof(p->zColSep));
  std::memcpy(p->zRowSep, p->zRowSepSaved, sizeof(p->zRowSep));
}

void setFlagFromBoolean(ShellContext* p, unsigned mask, const char* zArg) {
  if (parseBooleanArg(zArg)) {
    p->mFlags |= mask;
  } else {
    p->mFlags &= ~mask;
  }
}

void logToFile(void* pArg, int iErrCode, const char* zMsg) {
  auto* p = static_cast<ShellContext*>(pArg);
  if (p->pLogFile == nullptr || p->bReadingCatalog) return;
  flushRowOutput();  // rows held for the same stream come first
  std::fprintf(p->pLogFile, "(%d) %s\n", iErrCode, zMsg);
  std::fflush(p->pLogFile);
}

void exitOutOfMemory() {
  std::fputs("Error: out of memory\n", stderr);
  std::exit(1);
}

int textLength(const char* z) {
  if (z == nullptr) return 0;
  return static_cast<int>(std::strlen(z) & 0x3fffffff);
}

int safeCompare(const char* a, const char* b) {
  return std::strcmp(a ? a : "", b ? b : "");
}

int safeCompareN(const char* a, const char* b, int n) {
  return std::strncmp(a ? a : "", b ? b : "", static_cast<size_t>(n));
}

static bool isIdentStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

char identQuoteChar(const char* zName) {
  const auto* z = reinterpret_cast<const unsigned char*>(zName);
  if (!isIdentStart(z[0])) return '"';
  int i = 0;
  for (i = 0; z[i]; i++) {
    if (!isIdentStart(z[i]) && !(z[i] >= '0' && z[i] <= '9')) return '"';
  }
  return sqlite3_keyword_check(zName, i) ? '"' : 0;
}

bool matchOption(const char* zArg, const char* zName) {
  if (zArg == nullptr || zArg[0] != '-') return false;
  if (zArg[1] == '-') zArg++;
  return std::strcmp(zArg + 1, zName) == 0;
}

int reportDatabaseError(sqlite3* db) {
  std::fprintf(stderr, "Error: %s\n", sqlite3_errmsg(db));
  return 1;
}

void textInit(TextBuffer* p) {
  std::memset(p, 0, sizeof(*p));
}

void textFree(TextBuffer* p) {
  std::free(p->z);
  textInit(p);
}

void textAppend(TextBuffer* p, const char* zText, char quote) {
  sqlite3_int64 nText = textLength(zText);
  sqlite3_int64 nNeeded = p->n + nText + 1;
  if (quote) {
    nNeeded += 2;
    for (const char* z = zText; *z; z++) {
      if (*z == quote) nNeeded++;
    }
  }
  if (nNeeded >= p->nAlloc) {
    sqlite3_int64 nNew = nNeeded + 2 * static_cast<sqlite3_int64>(p->nAlloc) + 20;
    if (nNew > 0x7fffffff) exitOutOfMemory();
    p->z = checkAlloc(static_cast<char*>(std::realloc(p->z, static_cast<size_t>(nNew))));
    p->nAlloc = static_cast<int>(nNew);
  }
  char* zOut = p->z + p->n;
  if (quote) {
    *zOut++ = quote;
    for (const char* z = zText; *z; z++) {
      *zOut++ = *z;
      if (*z == quote) *zOut++ = quote;
    }
    *zOut++ = quote;
  } else {
    std::memcpy(zOut, zText, static_cast<size_t>(nText));
    zOut += nText;
  }
  *zOut = 0;
  p->n = static_cast<int>(zOut - p->z);
}
