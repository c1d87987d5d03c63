// The shell's one state record, its output-mode numbers and flag bits, the
// process-wide variables, and the small helpers every part of the shell uses.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ext/edit/Edit.h"
#include "ext/fileio/Fileio.h"

// ---------------------------------------------------------------------------
// Output modes; the numbers are fixed (they index modeNames and show in settings).
enum class OutputMode : int {
  Line = 0,
  Column = 1,
  List = 2,
  Semi = 3,
  Html = 4,
  Insert = 5,
  Quote = 6,
  Tcl = 7,
  Csv = 8,
  Explain = 9,
  Ascii = 10,
  Pretty = 11,
  Eqp = 12,
  Json = 13,
  Markdown = 14,
  Table = 15,
  Box = 16,
  Count = 17,
  Off = 18,
};
inline constexpr int nModes = 19;
extern const char* const modeNames[nModes];

// The mode's name as .mode and .show print it.
inline const char* modeName(OutputMode eMode) {
  const int i = static_cast<int>(eMode);
  return (i >= 0 && i < nModes) ? modeNames[i] : "";
}

// True for the modes whose whole result is gathered before printing.
inline bool isColumnarMode(OutputMode eMode) {
  return eMode == OutputMode::Column || eMode == OutputMode::Markdown ||
         eMode == OutputMode::Table || eMode == OutputMode::Box;
}

// The bits of ShellContext::mFlags.
namespace ShellFlag {
inline constexpr unsigned Pagecache = 0x001;
inline constexpr unsigned Lookaside = 0x002;
inline constexpr unsigned Backslash = 0x004;
inline constexpr unsigned PreserveRowid = 0x008;
inline constexpr unsigned Newlines = 0x010;
inline constexpr unsigned CountChanges = 0x020;
inline constexpr unsigned Echo = 0x040;
inline constexpr unsigned HeaderSet = 0x080;
inline constexpr unsigned DumpDataOnly = 0x100;
inline constexpr unsigned DumpNoSys = 0x200;
}  // namespace ShellFlag

// How the next open treats the file (ShellContext::eOpenMode).
enum class OpenMode : unsigned char {
  Unknown = 0,      // detect the kind from the file
  Normal = 1,       // an ordinary database file
  Append = 2,       // a database appended to another file, through "apndvfs"
  Zip = 3,          // a zip archive (opens as an empty in-memory database)
  ReadOnly = 4,     // an ordinary file, read-only
  Deserialize = 5,  // the file's bytes loaded into memory
  HexDump = 6,      // an image loaded from hex-dump text
};

// The separators of the ascii mode: ASCII unit and record separators.
inline constexpr const char* zUnitSeparator = "\x1F";
inline constexpr const char* zRecordSeparator = "\x1E";

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

// How aligned results are laid out (ShellContext::eExpanded).
enum class ExpandedMode : unsigned char {
  Auto = 0,  // at a terminal: fit the window, else one record per block
  On = 1,    // every aligned result as one record per block
  Off = 2,   // tables as they are, whatever the window
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
  OpenMode eOpenMode;
  unsigned char bLaunchViewer;
  unsigned char eTraceKind;
  unsigned char bSafeActive;
  unsigned char bSafePersistent;
  // Set while Tab completion reads the catalog: the user's hooks (trace,
  // progress, authorizer, log) let its statements pass unseen.
  unsigned char bReadingCatalog;
  unsigned nDatabasesOpened;  // databases opened so far, in any slot
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
  OutputMode eMode;
  OutputMode eModeSaved;
  OutputMode eModeNow;
  OutputMode eModeBeforeExplain;
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
  // The gates of the functions that reach files and programs, handed to the extensions when a
  // connection opens; they point back at this record (see allowOutsideReach).
  FileioGate fileioGate;
  EditGate editGate;
  PlanTree planTree;
  ExpertState expert;
  ExpandedMode eExpanded;
  unsigned char bWrapGiven;  // the columnar wrap width was given with .mode --wrap
  // The display columns an aligned result may take, or 0 when it is not
  // fitted (the output is not a terminal seen by someone at the keyboard).
  int nFitWidth;
  unsigned char ePagerMode;          // PagerMode (Pager.h): 0 on, 1 off, 2 always
  char zPagerCommand[nOutNameSize];  // the pager set with .pager COMMAND, or ""
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
