// The engine control commands' name tables (.dbconfig, .limits, .testctrl,
// .filectrl) and the callbacks that .trace, .progress and .breakpoint install.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstring>

struct ShellContext;

// One switch of sqlite3_db_config, listed by .dbconfig in this order.
struct DbConfigOption {
  const char* zName;
  int iOption;
};
inline constexpr std::array<DbConfigOption, 16> dbConfigOptions = {{
    {"defensive", SQLITE_DBCONFIG_DEFENSIVE},
    {"dqs_ddl", SQLITE_DBCONFIG_DQS_DDL},
    {"dqs_dml", SQLITE_DBCONFIG_DQS_DML},
    {"enable_fkey", SQLITE_DBCONFIG_ENABLE_FKEY},
    {"enable_qpsg", SQLITE_DBCONFIG_ENABLE_QPSG},
    {"enable_trigger", SQLITE_DBCONFIG_ENABLE_TRIGGER},
    {"enable_view", SQLITE_DBCONFIG_ENABLE_VIEW},
    {"fts3_tokenizer", SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER},
    {"legacy_alter_table", SQLITE_DBCONFIG_LEGACY_ALTER_TABLE},
    {"legacy_file_format", SQLITE_DBCONFIG_LEGACY_FILE_FORMAT},
    {"load_extension", SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION},
    {"no_ckpt_on_close", SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE},
    {"reset_database", SQLITE_DBCONFIG_RESET_DATABASE},
    {"trigger_eqp", SQLITE_DBCONFIG_TRIGGER_EQP},
    {"trusted_schema", SQLITE_DBCONFIG_TRUSTED_SCHEMA},
    {"writable_schema", SQLITE_DBCONFIG_WRITABLE_SCHEMA},
}};

// The limit categories of sqlite3_limit: the position is the category.
inline constexpr std::array<const char*, 12> limitNames = {
    "length",        "sql_length",     "column",   "expr_depth",          "compound_select",
    "vdbe_op",       "function_arg",   "attached", "like_pattern_length", "variable_number",
    "trigger_depth", "worker_threads",
};

// What a .testctrl row does with its words.
enum class TestCtrlKind {
  BooleanPrint,   // one BOOLEAN; the engine's answer is printed
  NoArgPrint,     // no argument; the engine's answer is printed
  NoAction,       // answered with the usage line
  Imposter,       // SCHEMA ON/OFF ROOTPAGE
  DbOnly,         // any words (ignored); the connection is passed
  Boolean,        // one BOOLEAN, nothing printed
  Optimizations,  // one mask, read by strtol in base 0
  PendingByte,    // one offset
  NoArg,          // no argument, nothing printed
  PrngSeed,       // SEED ?db?
  SeekCount,      // any words (ignored); the count is printed
  SorterMmap,     // one size
};

struct TestControl {
  const char* zName;
  int iCode;
  bool bUnsafe;  // refused in safe mode
  const char* zUsage;
  TestCtrlKind eKind;
};
inline constexpr std::array<TestControl, 16> testControls = {{
    {"always", SQLITE_TESTCTRL_ALWAYS, true, "BOOLEAN", TestCtrlKind::BooleanPrint},
    {"assert", SQLITE_TESTCTRL_ASSERT, true, "BOOLEAN", TestCtrlKind::BooleanPrint},
    {"byteorder", SQLITE_TESTCTRL_BYTEORDER, false, "", TestCtrlKind::NoArgPrint},
    {"extra_schema_checks", SQLITE_TESTCTRL_EXTRA_SCHEMA_CHECKS, false, "BOOLEAN",
     TestCtrlKind::NoAction},
    {"imposter", SQLITE_TESTCTRL_IMPOSTER, true, "SCHEMA ON/OFF ROOTPAGE", TestCtrlKind::Imposter},
    {"internal_functions", SQLITE_TESTCTRL_INTERNAL_FUNCTIONS, false, "", TestCtrlKind::DbOnly},
    {"localtime_fault", SQLITE_TESTCTRL_LOCALTIME_FAULT, false, "BOOLEAN", TestCtrlKind::Boolean},
    {"never_corrupt", SQLITE_TESTCTRL_NEVER_CORRUPT, true, "BOOLEAN", TestCtrlKind::Boolean},
    {"optimizations", SQLITE_TESTCTRL_OPTIMIZATIONS, false, "DISABLE-MASK",
     TestCtrlKind::Optimizations},
    {"pending_byte", SQLITE_TESTCTRL_PENDING_BYTE, false, "OFFSET  ", TestCtrlKind::PendingByte},
    {"prng_restore", SQLITE_TESTCTRL_PRNG_RESTORE, false, "", TestCtrlKind::NoArg},
    {"prng_save", SQLITE_TESTCTRL_PRNG_SAVE, false, "", TestCtrlKind::NoArg},
    {"prng_seed", SQLITE_TESTCTRL_PRNG_SEED, false, "SEED ?db?", TestCtrlKind::PrngSeed},
    {"seek_count", SQLITE_TESTCTRL_SEEK_COUNT, false, "", TestCtrlKind::SeekCount},
    {"sorter_mmap", SQLITE_TESTCTRL_SORTER_MMAP, false, "NMAX", TestCtrlKind::SorterMmap},
    {"tune", SQLITE_TESTCTRL_TUNE, true, "ID VALUE", TestCtrlKind::NoAction},
}};

// What a .filectrl row does with its words.
enum class FileCtrlKind {
  SetInt,        // one integer, nothing printed
  QueryInt,      // no argument; the answer is printed
  BooleanInt,    // ?BOOLEAN?, -1 queries; the value is printed
  ReserveBytes,  // ?N?: sets when given, then queries and prints
  SizeLimit,     // ?LIMIT?, -1 queries; the 64-bit value is printed
  TempFilename,  // no argument; the name is printed
};

struct FileControl {
  const char* zName;
  int iCode;
  const char* zUsage;
  FileCtrlKind eKind;
};
inline constexpr std::array<FileControl, 9> fileControls = {{
    {"chunk_size", SQLITE_FCNTL_CHUNK_SIZE, "SIZE", FileCtrlKind::SetInt},
    {"data_version", SQLITE_FCNTL_DATA_VERSION, "", FileCtrlKind::QueryInt},
    {"has_moved", SQLITE_FCNTL_HAS_MOVED, "", FileCtrlKind::QueryInt},
    {"lock_timeout", SQLITE_FCNTL_LOCK_TIMEOUT, "MILLISEC", FileCtrlKind::SetInt},
    {"persist_wal", SQLITE_FCNTL_PERSIST_WAL, "[BOOLEAN]", FileCtrlKind::BooleanInt},
    {"psow", SQLITE_FCNTL_POWERSAFE_OVERWRITE, "[BOOLEAN]", FileCtrlKind::BooleanInt},
    {"reserve_bytes", SQLITE_FCNTL_RESERVE_BYTES, "[N]", FileCtrlKind::ReserveBytes},
    {"size_limit", SQLITE_FCNTL_SIZE_LIMIT, "[LIMIT]", FileCtrlKind::SizeLimit},
    {"tempfilename", SQLITE_FCNTL_TEMPFILENAME, "", FileCtrlKind::TempFilename},
}};

// The rows of a table whose name begins with zPrefix (case-sensitive): the
// first match, and how many rows matched.
template <typename Row, size_t N>
const Row* findRowByPrefix(const std::array<Row, N>& aRow, const char* zPrefix, int* pnMatch) {
  const Row* pFound = nullptr;
  int nMatch = 0;
  const size_t n = std::strlen(zPrefix);
  for (const Row& row : aRow) {
    if (std::strncmp(zPrefix, row.zName, n) == 0) {
      if (nMatch++ == 0) pFound = &row;
    }
  }
  *pnMatch = nMatch;
  return pFound;
}

// False when the engine was built without its test interface, so that
// sqlite3_test_control does nothing at all.
bool testControlsAvailable();

// The callback of .trace: writes each traced statement to pTraceFile.
int traceToStream(unsigned mType, void* p, void* pStmt, void* pX);
// The progress handler of .progress; nonzero interrupts the statement.
int progressTick(void* p);
// Called by .breakpoint: a place for a debugger's breakpoint.
void breakpointHook();
// How often breakpointHook has run.
int breakpointCount();
