// The shell's entry: prepares the process, reads the command line in two
// passes (engine configuration before the engine starts, display settings
// after the initialization file), then runs the command-line commands or the
// input loop, and releases everything at the end.
#include "shell/app/Startup.h"

#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "ext/appendvfs/AppendVfs.h"
#include "ext/memtrace/Memtrace.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/InputRecall.h"
#include "shell/app/InputLoop.h"
#include "shell/app/LineEditor.h"
#include "shell/core/NestedInput.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Platform.h"
#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"

namespace {

struct UsageLine {
  const char* zOption;
  const char* zDescription;
};

// The options listed by -help, in the order printed.
const UsageLine usageLines[] = {
    {"-append", "append the database to the end of the file"},
    {"-ascii", "set output mode to 'ascii'"},
    {"-bail", "stop after hitting an error"},
    {"-batch", "force batch I/O"},
    {"-box", "set output mode to 'box'"},
    {"-column", "set output mode to 'column'"},
    {"-cmd COMMAND", "run \"COMMAND\" before reading stdin"},
    {"-csv", "set output mode to 'csv'"},
    {"-deserialize", "open the database using sqlite3_deserialize()"},
    {"-echo", "print inputs before execution"},
    {"-init FILENAME", "read/process named file"},
    {"-[no]header", "turn headers on or off"},
    {"-help", "show this message"},
    {"-html", "set output mode to HTML"},
    {"-interactive", "force interactive I/O"},
    {"-json", "set output mode to 'json'"},
    {"-line", "set output mode to 'line'"},
    {"-list", "set output mode to 'list'"},
    {"-lookaside SIZE N", "use N entries of SZ bytes for lookaside memory"},
    {"-markdown", "set output mode to 'markdown'"},
    {"-maxsize N", "maximum size for a --deserialize database"},
    {"-memtrace", "trace all memory allocations and deallocations"},
    {"-mmap N", "default mmap size set to N"},
    {"-newline SEP", "set output row separator. Default: '\\n'"},
    {"-nofollow", "refuse to open symbolic links to database files"},
    {"-nonce STRING", "set the safe-mode escape nonce"},
    {"-nullvalue TEXT", "set text string for NULL values. Default ''"},
    {"-pagecache SIZE N", "use N slots of SZ bytes each for page cache memory"},
    {"-quote", "set output mode to 'quote'"},
    {"-readonly", "open the database read-only"},
    {"-safe", "enable safe-mode"},
    {"-separator SEP", "set output column separator. Default: '|'"},
    {"-stats", "print memory stats before each finalize"},
    {"-table", "set output mode to 'table'"},
    {"-tabs", "set output mode to 'tabs'"},
    {"-version", "show SQLite version"},
    {"-vfs NAME", "use NAME as the default VFS"},
};

// Every option the second pass accepts (without its leading dash).  Used by
// the first pass to tell whether the second would stop before -version.
const char* const passTwoOptions[] = {
    "init",      "html",       "list",    "quote",       "line",      "column",      "json",
    "markdown",  "table",      "box",     "csv",         "append",    "deserialize", "maxsize",
    "readonly",  "nofollow",   "ascii",   "tabs",        "separator", "newline",     "nullvalue",
    "header",    "noheader",   "echo",    "eqp",         "eqpfull",   "stats",       "scanstats",
    "backslash", "bail",       "version", "interactive", "batch",     "heap",        "pagecache",
    "lookaside", "threadsafe", "nonce",   "mmap",        "memtrace",  "vfs",         "help",
    "cmd",       "safe",
};

bool isPassTwoOption(const char* z) {
  for (const char* zName : passTwoOptions) {
    if (std::strcmp(z + 1, zName) == 0) return true;
  }
  return false;
}

// The option with a doubled leading dash reduced to one.
char* optionWord(char* z) {
  return (z[0] == '-' && z[1] == '-') ? z + 1 : z;
}

bool isOption(const char* z, const char* zName) {
  return std::strcmp(z, zName) == 0;
}

char* zHomeCache = nullptr;

// The arguments as the passes read them: copies owned by the shell.
struct ArgumentCopies {
  std::vector<char*> az;
  void take(int argc, char** argv) {
    az.reserve(static_cast<size_t>(argc) + 1);
    for (int i = 0; i < argc; i++) az.push_back(checkAlloc(strdup(argv[i])));
    az.push_back(nullptr);
  }
  void release() {
    for (char* z : az) std::free(z);
    az.clear();
    az.shrink_to_fit();
  }
};

// The ending: closes every connection, ends redirection, frees everything.
int finishShell(ShellContext* p, ArgumentCopies* pArgs, std::vector<char*>* pCmd, int rc) {
  pCmd->clear();
  pCmd->shrink_to_fit();
  setInsertTable(p, nullptr);
  sqlite3* dbMain = p->db;
  dbForInterrupt = nullptr;
  if (dbMain != nullptr) closeConnection(dbMain);
  p->db = nullptr;
  for (ShellConn& conn : p->aConn) {
    sqlite3_free(conn.zFreeLater);
    conn.zFreeLater = nullptr;
    if (conn.db != nullptr && conn.db != dbMain) closeConnection(conn.db);
    conn.db = nullptr;
  }
  // After the connections: closing one can still write to the trace stream.
  // Output lost on the way, even now, makes the run fail.
  bool bLost = closeOutputStream(p->pTraceFile);
  p->pTraceFile = nullptr;
  homeDirectory(true);
  if (restoreOutput(p)) bLost = true;
  if (checkWrites(stdout) == WriteStatus::Failed) bLost = true;
  if (bLost && rc == 0) rc = 1;
  p->bLaunchViewer = 0;
  discardTempFile(p);
  pArgs->release();
  std::free(p->aColWidth);
  std::free(p->zSafeNonce);
  std::memset(static_cast<void*>(p), 0, sizeof(*p));
  return rc;
}

// Runs the SQL of -cmd or of a command argument; reports its error.
// Returns the result code (non-zero on error) and sets *pbFailed.
int runCommandSql(ShellContext* p, const char* zSql, const char* zNoTextFormat, bool* pbFailed) {
  rememberStatement(zSql);
  openDatabase(p, 0);
  char* zErrMsg = nullptr;
  int rc = runStatements(p, zSql, &zErrMsg);
  // As after every chunk of SQL, a safe mode lifted by .nonce is back on.
  p->bSafeActive = p->bSafePersistent;
  *pbFailed = checkCommandOutput(p);
  if (*pbFailed && zErrMsg == nullptr && rc == 0) return 1;
  if (zErrMsg != nullptr) {
    printConsole(stderr, "Error: %s\n", zErrMsg);
    sqlite3_free(zErrMsg);
    *pbFailed = true;
    return rc != 0 ? rc : 1;
  }
  if (rc != 0) {
    printConsole(stderr, zNoTextFormat, zSql);
    *pbFailed = true;
  }
  return rc;
}

}  // namespace

char* optionValue(int argc, char** argv, int i) {
  if (i >= argc) {
    std::fprintf(stderr, "%s: Error: missing argument to %s\n", argv[0], argv[argc - 1]);
    std::exit(1);
  }
  return argv[i];
}

void printUsage(bool bShowDetail) {
  std::fprintf(stderr,
               "Usage: %s [OPTIONS] FILENAME [SQL]\n"
               "FILENAME is the name of an SQLite database. A new database is created\n"
               "if the file does not previously exist.\n",
               zProgName);
  if (bShowDetail) {
    std::fputs("OPTIONS include:\n", stderr);
    for (const UsageLine& line : usageLines) {
      std::fprintf(stderr, "   %-21s%s\n", line.zOption, line.zDescription);
    }
  } else {
    std::fputs("Use the -help option for additional information\n", stderr);
  }
  std::exit(1);
}

const char* homeDirectory(bool bClearFlag) {
  if (bClearFlag) {
    std::free(zHomeCache);
    zHomeCache = nullptr;
    return nullptr;
  }
  if (zHomeCache != nullptr) return zHomeCache;
  const char* zHome = std::getenv("USERPROFILE");
  if (zHome == nullptr) zHome = std::getenv("HOME");
  if (zHome == nullptr) {
    const char* zDrive = std::getenv("HOMEDRIVE");
    const char* zPath = std::getenv("HOMEPATH");
    if (zDrive != nullptr && zPath != nullptr) {
      size_t nDrive = std::strlen(zDrive);
      size_t nPath = std::strlen(zPath);
      zHomeCache = static_cast<char*>(std::malloc(nDrive + nPath + 1));
      if (zHomeCache != nullptr) {
        std::memcpy(zHomeCache, zDrive, nDrive);
        std::memcpy(zHomeCache + nDrive, zPath, nPath + 1);
      }
      return zHomeCache;
    }
    // Without any of the variables, the account's entry names the home.
    const passwd* pw = getpwuid(getuid());
    if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != 0) zHome = pw->pw_dir;
  }
  if (zHome != nullptr) zHomeCache = strdup(zHome);
  return zHomeCache;
}

void runInitFile(ShellContext* p, const char* zInitFile) {
  FILE* pInSaved = p->pIn;
  int iLineNoSaved = p->iLineNo;
  SqlitePtr zBuilt;
  const char* zName = zInitFile;
  if (zName == nullptr) {
    const char* zHome = homeDirectory(false);
    if (zHome == nullptr) {
      std::fputs("-- warning: cannot find home directory; cannot read ~/.sqliterc\n", stderr);
      return;
    }
    zBuilt.reset(checkAlloc(sqlite3_mprintf("%s/.sqliterc", zHome)));
    zName = zBuilt.get();
  }
  p->pIn = std::fopen(zName, "rb");
  if (p->pIn == nullptr) {
    if (zInitFile != nullptr) {
      printConsole(stderr, "cannot open: \"%s\"\n", zInitFile);
      if (bBailOnError) std::exit(1);
    }
  } else {
    if (bStdinIsTty) printConsole(stderr, "-- Loading resources from %s\n", zName);
    int rc = processInput(p);
    std::fclose(p->pIn);
    if (rc != 0 && bBailOnError) std::exit(1);
  }
  p->pIn = pInSaved;
  p->iLineNo = iLineNoSaved;
}

int64_t pageCacheSlots(int64_t szSlot, int64_t nSlots, int64_t nMemoryLimit) {
  constexpr int64_t nMaxBytes = 0xffffffffffffLL;  // no more than 2^48 - 1 bytes in any case
  constexpr int64_t nMaxSlots = 0x7fffffff;        // the engine counts slots in an int
  if (nSlots <= 0) return 0;
  if (szSlot <= 0) return nSlots < nMaxSlots ? nSlots : nMaxSlots;
  int64_t nLimit = nMemoryLimit < nMaxBytes ? nMemoryLimit : nMaxBytes;
  if (nLimit < 0) nLimit = 0;
  if (nSlots > nLimit / szSlot) nSlots = nLimit / szSlot;
  return nSlots < nMaxSlots ? nSlots : nMaxSlots;
}

int64_t pageCacheMemoryLimit() {
  int64_t nLimit = INT64_MAX;
  const long nFreePages = sysconf(_SC_AVPHYS_PAGES);
  const long szPage = sysconf(_SC_PAGESIZE);
  if (nFreePages > 0 && szPage > 0) nLimit = static_cast<int64_t>(nFreePages) * szPage / 2;
  for (const int eResource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (getrlimit(eResource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<int64_t>(limit.rlim_cur / 2) < nLimit) {
      nLimit = static_cast<int64_t>(limit.rlim_cur / 2);
    }
  }
  return nLimit;
}

int shellMain(int argc, char** argvIn) {
  // Process preparation.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  bStdinIsTty = isTerminal(0);
  bStdoutIsConsole = isTerminal(1);
  if (std::getenv("SQLITE_DEBUG_BREAK") != nullptr) {
    if (isTerminal(0) && isTerminal(2)) {
      std::fprintf(stderr, "attach debugger to process %d and press any key to continue.\n",
                   currentProcessId());
      std::fgetc(stdin);
    } else {
      debugBreak();
    }
  }
  if (std::strncmp(sqlite3_sourceid(), SQLITE_SOURCE_ID, 60) != 0) {
    std::fprintf(stderr, "SQLite header and source version mismatch\n%s\n%s\n", sqlite3_sourceid(),
                 SQLITE_SOURCE_ID);
    std::exit(1);
  }

  ShellContext data;
  initShellContext(&data);
  setInputLoop(processInput);
  // The shell's own containers end the same way as the engine's allocations
  // when memory runs out: a message and status 1, never an abort.
  std::set_new_handler([] { exitOutOfMemory(); });
  ArgumentCopies args;
  std::vector<char*> azCmd;
  if (argc < 1) {
    std::fputs("Error: no program name in the argument list\n", stderr);
    return 1;
  }
  args.take(argc, argvIn);
  char** argv = args.az.data();
  zProgName = argv[0];
  installInterruptHandler();
  // A write beyond the file-size limit fails with EFBIG (reported like any
  // write error) instead of killing the shell.
  std::signal(SIGXFSZ, SIG_IGN);
  checkUnconfigured();

  // Pass 1: engine configuration, file name, commands.
  const char* zInitFile = nullptr;
  const char* zVfs = nullptr;
  bool bReadStdin = true;
  bool bShowVersion = false;
  bool bPassTwoStops = false;
  for (int i = 1; i < argc; i++) {
    char* z = argv[i];
    if (z[0] != '-') {
      if (data.aConn[0].zFilename == nullptr) {
        data.aConn[0].zFilename = z;
      } else {
        azCmd.push_back(z);
        bReadStdin = false;
      }
      continue;
    }
    z = optionWord(z);
    if (isOption(z, "-separator") || isOption(z, "-nullvalue") || isOption(z, "-newline") ||
        isOption(z, "-cmd")) {
      optionValue(argc, argv, ++i);
    } else if (isOption(z, "-init")) {
      zInitFile = optionValue(argc, argv, ++i);
    } else if (isOption(z, "-batch")) {
      bStdinIsTty = 0;
    } else if (isOption(z, "-heap")) {
      optionValue(argc, argv, ++i);
    } else if (isOption(z, "-pagecache")) {
      sqlite3_int64 sz = parseIntegerArg(optionValue(argc, argv, ++i));
      if (sz > 70000) sz = 70000;
      if (sz < 0) sz = 0;
      sqlite3_int64 n = parseIntegerArg(optionValue(argc, argv, ++i));
      n = pageCacheSlots(sz, n, pageCacheMemoryLimit());
      // Should even that much be refused, the engine sets up its own cache.
      void* pBuf = (sz > 0 && n > 0) ? std::malloc(static_cast<size_t>(sz * n)) : nullptr;
      sqlite3_config(SQLITE_CONFIG_PAGECACHE, pBuf, static_cast<int>(sz), static_cast<int>(n));
      data.mFlags |= ShellFlag::Pagecache;
    } else if (isOption(z, "-lookaside")) {
      int sz = static_cast<int>(parseIntegerArg(optionValue(argc, argv, ++i)));
      if (sz < 0) sz = 0;
      int n = static_cast<int>(parseIntegerArg(optionValue(argc, argv, ++i)));
      if (n < 0) n = 0;
      sqlite3_config(SQLITE_CONFIG_LOOKASIDE, sz, n);
      if (static_cast<sqlite3_int64>(sz) * n == 0) data.mFlags &= ~ShellFlag::Lookaside;
    } else if (isOption(z, "-threadsafe")) {
      sqlite3_int64 n = parseIntegerArg(optionValue(argc, argv, ++i));
      if (n == 0) {
        sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
      } else if (n == 2) {
        sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
      } else {
        sqlite3_config(SQLITE_CONFIG_SERIALIZED);
      }
    } else if (isOption(z, "-mmap")) {
      sqlite3_int64 sz = parseIntegerArg(optionValue(argc, argv, ++i));
      sqlite3_config(SQLITE_CONFIG_MMAP_SIZE, sz, sz);
    } else if (isOption(z, "-vfs")) {
      zVfs = optionValue(argc, argv, ++i);
    } else if (isOption(z, "-append")) {
      data.eOpenMode = OpenMode::Append;
    } else if (isOption(z, "-deserialize")) {
      data.eOpenMode = OpenMode::Deserialize;
    } else if (isOption(z, "-readonly")) {
      data.eOpenMode = OpenMode::ReadOnly;
    } else if (isOption(z, "-maxsize") && i + 1 < argc) {
      data.nMaxDbSize = parseIntegerArg(argv[++i]);
    } else if (isOption(z, "-nofollow")) {
      data.mOpenFlags = SQLITE_OPEN_NOFOLLOW;
    } else if (isOption(z, "-memtrace")) {
      memtraceStart(stderr);
    } else if (isOption(z, "-bail")) {
      bBailOnError = 1;
    } else if (isOption(z, "-nonce")) {
      char* zNonce = optionValue(argc, argv, ++i);
      std::free(data.zSafeNonce);
      data.zSafeNonce = checkAlloc(strdup(zNonce));
    } else if (isOption(z, "-version")) {
      if (!bPassTwoStops) bShowVersion = true;
    } else if (isOption(z, "-help") || !isPassTwoOption(z)) {
      bPassTwoStops = true;
    }
  }

  // -version answers before any database is opened or initialization file read.
  if (bShowVersion) {
    std::printf("%s %s\n", sqlite3_libversion(), sqlite3_sourceid());
    return finishShell(&data, &args, &azCmd, 0);
  }

  // Between the passes.
  checkUnconfigured();
  sqlite3_initialize();
  if (zVfs != nullptr) {
    sqlite3_vfs* pVfs = sqlite3_vfs_find(zVfs);
    if (pVfs == nullptr) {
      printConsole(stderr, "no such VFS: \"%s\"\n", zVfs);
      std::exit(1);
    }
    sqlite3_vfs_register(pVfs, 1);
  }
  appendVfsRegister();
  bool bWarnInMemory = false;
  if (data.aConn[0].zFilename == nullptr) {
    data.aConn[0].zFilename = ":memory:";
    bWarnInMemory = argc == 1;
  }
  data.pOut = stdout;
  if (access(data.aConn[0].zFilename, F_OK) == 0) openDatabase(&data, 0);
  runInitFile(&data, zInitFile);

  // Pass 2: display settings and -cmd.
  for (int i = 1; i < argc; i++) {
    char* z = argv[i];
    if (z[0] != '-') continue;
    z = optionWord(z);
    if (isOption(z, "-init")) {
      i++;
    } else if (isOption(z, "-html")) {
      data.eMode = OutputMode::Html;
    } else if (isOption(z, "-list")) {
      data.eMode = OutputMode::List;
    } else if (isOption(z, "-quote")) {
      data.eMode = OutputMode::Quote;
      setSettingText(data.zColSep, ",");
      setSettingText(data.zRowSep, "\n");
    } else if (isOption(z, "-line")) {
      data.eMode = OutputMode::Line;
    } else if (isOption(z, "-column")) {
      data.eMode = OutputMode::Column;
    } else if (isOption(z, "-json")) {
      data.eMode = OutputMode::Json;
    } else if (isOption(z, "-markdown")) {
      data.eMode = OutputMode::Markdown;
    } else if (isOption(z, "-table")) {
      data.eMode = OutputMode::Table;
    } else if (isOption(z, "-box")) {
      data.eMode = OutputMode::Box;
    } else if (isOption(z, "-csv")) {
      data.eMode = OutputMode::Csv;
      setSettingText(data.zColSep, ",");
    } else if (isOption(z, "-append")) {
      data.eOpenMode = OpenMode::Append;
    } else if (isOption(z, "-deserialize")) {
      data.eOpenMode = OpenMode::Deserialize;
    } else if (isOption(z, "-maxsize") && i + 1 < argc) {
      data.nMaxDbSize = parseIntegerArg(argv[++i]);
    } else if (isOption(z, "-readonly")) {
      data.eOpenMode = OpenMode::ReadOnly;
    } else if (isOption(z, "-nofollow")) {
      data.mOpenFlags = SQLITE_OPEN_NOFOLLOW;
    } else if (isOption(z, "-ascii")) {
      data.eMode = OutputMode::Ascii;
      setSettingText(data.zColSep, zUnitSeparator);
      setSettingText(data.zRowSep, zRecordSeparator);
    } else if (isOption(z, "-tabs")) {
      data.eMode = OutputMode::List;
      setSettingText(data.zColSep, "\t");
      setSettingText(data.zRowSep, "\n");
    } else if (isOption(z, "-separator")) {
      setSettingText(data.zColSep, optionValue(argc, argv, ++i));
    } else if (isOption(z, "-newline")) {
      setSettingText(data.zRowSep, optionValue(argc, argv, ++i));
    } else if (isOption(z, "-nullvalue")) {
      setSettingText(data.zNullText, optionValue(argc, argv, ++i));
    } else if (isOption(z, "-header")) {
      data.bHeaders = 1;
      data.mFlags |= ShellFlag::HeaderSet;
    } else if (isOption(z, "-noheader")) {
      data.bHeaders = 0;
      data.mFlags |= ShellFlag::HeaderSet;
    } else if (isOption(z, "-echo")) {
      data.mFlags |= ShellFlag::Echo;
    } else if (isOption(z, "-eqp")) {
      data.eEqpMode = 1;
    } else if (isOption(z, "-eqpfull")) {
      data.eEqpMode = 3;
    } else if (isOption(z, "-stats")) {
      data.eStatsMode = 1;
    } else if (isOption(z, "-scanstats")) {
      data.bScanStats = 1;
    } else if (isOption(z, "-backslash")) {
      data.mFlags |= ShellFlag::Backslash;
    } else if (isOption(z, "-bail")) {
      // Taken in the first pass.
    } else if (isOption(z, "-version")) {
      std::printf("%s %s\n", sqlite3_libversion(), sqlite3_sourceid());
      return finishShell(&data, &args, &azCmd, 0);
    } else if (isOption(z, "-interactive")) {
      bStdinIsTty = 1;
    } else if (isOption(z, "-batch")) {
      bStdinIsTty = 0;
    } else if (isOption(z, "-heap") || isOption(z, "-threadsafe") || isOption(z, "-nonce") ||
               isOption(z, "-mmap") || isOption(z, "-vfs")) {
      i++;
    } else if (isOption(z, "-pagecache") || isOption(z, "-lookaside")) {
      i += 2;
    } else if (isOption(z, "-memtrace")) {
      // Takes no value.
    } else if (isOption(z, "-help")) {
      printUsage(true);
    } else if (isOption(z, "-cmd")) {
      char* zCmd = optionValue(argc, argv, ++i);
      if (zCmd[0] == '.') {
        int rc = runDotCommand(zCmd, &data);
        if (rc != 0 && bBailOnError) return finishShell(&data, &args, &azCmd, rc == 2 ? 0 : rc);
      } else {
        bool bFailed = false;
        int rc = runCommandSql(&data, zCmd, "Error: unable to process SQL \"%s\"\n", &bFailed);
        if (bFailed && bBailOnError) return finishShell(&data, &args, &azCmd, rc);
      }
    } else if (isOption(z, "-safe")) {
      data.bSafeActive = data.bSafePersistent = 1;
    } else {
      std::fprintf(stderr, "%s: Error: unknown option: %s\n", zProgName, z);
      std::fputs("Use -help for a list of options.\n", stderr);
      return finishShell(&data, &args, &azCmd, 1);
    }
    data.eModeNow = data.eMode;
  }

  // Main work.
  int rc = 0;
  if (!bReadStdin) {
    for (char* zCmd : azCmd) {
      if (zCmd[0] == '.') {
        rc = runDotCommand(zCmd, &data);
        if (rc != 0) return finishShell(&data, &args, &azCmd, rc == 2 ? 0 : rc);
      } else {
        bool bFailed = false;
        rc = runCommandSql(&data, zCmd, "Error: unable to process SQL: %s\n", &bFailed);
        if (bFailed) return finishShell(&data, &args, &azCmd, rc != 0 ? rc : 1);
      }
    }
  } else if (bStdinIsTty) {
    std::printf(
        "SQLite version %s %.19s\n"
        "Enter \".help\" for usage hints.\n",
        sqlite3_libversion(), sqlite3_sourceid());
    if (bWarnInMemory) {
      std::printf("Connected to a ");
      if (colourWanted()) {
        printHighlighted("transient in-memory database");
      } else {
        std::printf("transient in-memory database");
      }
      std::printf(".\nUse \".open FILENAME\" to reopen on a persistent database.\n");
    }
    data.pIn = nullptr;
    if (lineEditingWanted()) lineEditorOpen(&data);
    if (isTerminal(0)) installTerminationHandlers(!lineEditorActive());
    rc = processInput(&data);
    lineEditorClose();
  } else {
    data.pIn = stdin;
    rc = processInput(&data);
  }
  rc = finishShell(&data, &args, &azCmd, rc);
  // Ended by SIGHUP or SIGTERM: everything is closed; the process ends by
  // that signal.
  endByTerminationSignal();
  return rc;
}
