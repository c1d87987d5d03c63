// The shell's one state record, its output-mode numbers and flag bits, the
// process-wide variables, and the small helpers every part of the shell uses.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// ---------------------------------------------------------------------------
// Output modes (index into modeNames).
enum : int {
  MODE_Line = 0,
  MODE_Column = 1,
  MODE_List = 2,
  MODE_Semi = 3,
  MODE_Html = 4,
  MODE_Insert = 5,
  MODE_Quote = 6,
  MODE_Tcl = 7,
  MODE_Csv = 8,
  MODE_Explain = 9,
  MODE_Ascii = 10,
  MODE_Pretty = 11,
  MODE_EQP = 12,
  MODE_Json = 13,
  MODE_Markdown = 14,
  MODE_Table = 15,
  MODE_Box = 16,
  MODE_Count = 17,
  MODE_Off = 18,
};
inline constexpr int nModes = 19;
extern const char* const modeNames[nModes];

// True for the modes whose whole result is gathered before printing.
inline bool isColumnarMode(int eMode) {
  return eMode == MODE_Column || eMode == MODE_Markdown || eMode == MODE_Table || eMode == MODE_Box;
}

// Bits of ShellContext::mFlags.
enum : unsigned {
  SHFLG_Pagecache = 0x001,
  SHFLG_Lookaside = 0x002,
  SHFLG_Backslash = 0x004,
  SHFLG_PreserveRowid = 0x008,
  SHFLG_Newlines = 0x010,
  SHFLG_CountChanges = 0x020,
  SHFLG_Echo = 0x040,
  SHFLG_HeaderSet = 0x080,
  SHFLG_DumpDataOnly = 0x100,
  SHFLG_DumpNoSys = 0x200,
};

// Open modes (ShellContext::eOpenMode).
enum : unsigned char {
  OPEN_Unspec = 0,
  OPEN_Normal = 1,
  OPEN_AppendVfs = 2,
  OPEN_Zipfile = 3,
  OPEN_ReadOnly = 4,
  OPEN_Deserialize = 5,
  OPEN_HexDb = 6,
};

// Separator characters of the ascii mode.
inline constexpr const char* SEP_Unit = "\x1F";
inline constexpr const char* SEP_Record = "\x1E";

// Sizes of the fixed settings texts.
inline constexpr int nSepSize = 20;
inline constexpr int nTestNameSize = 30;
inline constexpr int nPlanIndentSize = 100;
inline constexpr int nOutNameSize = 260;

// One connection slot of `.connection`.
struct ShellConn {
  sqlite3* db = nullptr;
  const char* zFilename = nullptr;  // not owned
  char* zFreeLater = nullptr;       // released with sqlite3_free when the slot closes
};

// One collected row of EXPLAIN QUERY PLAN output.  The detail text is stored
// inline after the record (one engine allocation per row).
struct PlanRow {
  int iEqpId;
  int iParentId;
  PlanRow* pNext;
  char zText[1];
};

struct PlanTree {
  PlanRow* pFirst;
  PlanRow* pLast;
  char zIndent[nPlanIndentSize];
};

struct ColumnarOptions {
  int nWrap;
  unsigned char bQuote;
  unsigned char bWordWrap;
};

struct ExpertState {
  void* pExpert;  // the advisor object while `.expert` is pending
  int bVerbose;
};

// The one state record of the shell.  Field order and initial values follow
// initShellContext; the record is filled with zeros and then given its
// non-zero initial values, so every member must stay trivially copyable.
struct ShellContext {
  sqlite3* db;
  unsigned char bAutoExplain;
  unsigned char eEqpMode;
  unsigned char bScanStats;
  unsigned char eOpenMode;
  unsigned char bLaunchViewer;
  unsigned char eTraceKind;
  unsigned char bSafeActive;
  unsigned char bSafePersistent;
  ColumnarOptions cmOpts;
  unsigned eStatsMode;
  int nInputDepth;
  int nOnceCount;
  int nRowsShown;
  int iLineNo;
  int mOpenFlags;
  FILE* pIn;
  FILE* pOut;
  FILE* pTraceFile;
  int nErrors;
  int eMode;
  int eModeSaved;
  int eModeNow;
  int eModeBeforeExplain;
  int bSchemaWritable;
  int bHeaders;
  int nChecks;
  unsigned nProgressCalls;
  unsigned nProgressLimit;
  unsigned mProgressFlags;
  unsigned mFlags;
  unsigned mFlagsSaved;
  sqlite3_int64 nMaxDbSize;
  char* zInsertTable;  // standard allocator
  char* zTmpFile;      // sqlite3_free
  char zTestName[nTestNameSize];
  char zColSep[nSepSize];
  char zRowSep[nSepSize];
  char zColSepSaved[nSepSize];
  char zRowSepSaved[nSepSize];
  int* aColWidth;  // 2 * nColWidth ints, standard allocator
  int* aWidthNow;  // second half of aColWidth's allocation
  int nColWidth;
  char zNullText[nSepSize];
  char zOutName[nOutNameSize];
  sqlite3_stmt* pCurStmt;
  FILE* pLogFile;
  ShellConn aConn[5];
  ShellConn* pConn;
  int* aiExplainIndent;
  int nExplainIndent;
  int iExplainIndent;
  char* zSafeNonce;  // standard allocator
  PlanTree planTree;
  ExpertState expert;
};

// ---------------------------------------------------------------------------
// Process-wide variables (reached from signal handlers and output code).
extern int bStdinIsTty;
extern int bStdoutIsConsole;
extern int bBailOnError;
extern sqlite3* volatile dbForInterrupt;
extern volatile int nInterrupts;
extern const char* zProgName;
extern char zMainPrompt[nSepSize];
extern char zContPrompt[nSepSize];
extern int bTimer;  // .timer on

// ---------------------------------------------------------------------------
// Record operations.
void initShellContext(ShellContext* p);
void saveOutputMode(ShellContext* p);
void restoreOutputMode(ShellContext* p);
void setFlagFromBoolean(ShellContext* p, unsigned mask, const char* zArg);
void logToFile(void* pArg, int iErrCode, const char* zMsg);

// The engine-not-yet-initialized check: warns on standard output when the
// engine can no longer be configured.
void checkUnconfigured();

// ---------------------------------------------------------------------------
// Shared helpers.
[[noreturn]] void exitOutOfMemory();
template <typename T>
inline T* checkAlloc(T* p) {
  if (p == nullptr) exitOutOfMemory();
  return p;
}
int textLength(const char* z);
int safeCompare(const char* a, const char* b);
int safeCompareN(const char* a, const char* b, int n);

// Returns '"' when the name must be quoted to serve as an SQL identifier, else 0.
char identQuoteChar(const char* zName);

// True when zArg is "-NAME" or "--NAME".
bool matchOption(const char* zArg, const char* zName);

// Prints "Error: %s\n" with the connection's message on stderr, returns 1.
int reportDatabaseError(sqlite3* db);

// Writes a settings text with the bounded formatter (cut at the array size).
template <size_t N>
inline void setSettingText(char (&zDest)[N], const char* zValue) {
  sqlite3_snprintf(static_cast<int>(N), zDest, "%s", zValue ? zValue : "");
}

// ---------------------------------------------------------------------------
// TextBuffer: a growable zero-terminated text.
struct TextBuffer {
  char* z;     // the text, standard allocator
  int n;       // length
  int nAlloc;  // allocated size
};
void textInit(TextBuffer* p);
void textFree(TextBuffer* p);
// Appends zText; when quote is non-zero, surrounds it with that character and
// doubles every occurrence of it inside.
void textAppend(TextBuffer* p, const char* zText, char quote);

// ---------------------------------------------------------------------------
// Owners for engine and C-library resources.
struct StmtFinalizer {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};
using SqlitePtr = std::unique_ptr<char, SqliteFree>;

struct CFree {
  void operator()(void* p) const { std::free(p); }
};
using CPtr = std::unique_ptr<char, CFree>;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Prepares zSql on db; the statement is null on failure.
inline StmtPtr prepareStmt(sqlite3* db, const char* zSql, int* pRc = nullptr) {
  sqlite3_stmt* pStmt = nullptr;
  int rc = sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr);
  if (pRc) *pRc = rc;
  return StmtPtr(pStmt);
}
