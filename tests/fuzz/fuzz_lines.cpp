// libFuzzer target for the input-line scanner and statement assembly: scanLine,
// isCommandTerminator, isCompleteSql, and processInput reading the input as a
// script through fmemopen on a fresh in-memory database, output to /dev/null.
//
// Checked on every input:
// - scanLine over the whole text equals scanLine fed line by line; its state
//   names only a known closing character and the two known bits;
// - the scanner agrees with the engine's sqlite3_complete: complete text ends
//   "at a semicolon", and text at a semicolon is complete unless a CREATE
//   (a trigger body) is in it;
// - isCommandTerminator agrees with an oracle built on sqlite3_complete;
// - isCompleteSql is never true for text left inside a quote or comment;
// - processInput ends, having counted every line of the input;
// - when the whole script succeeds through sqlite3_exec on a second connection
//   (and holds no dot-command, terminator line or clock or random value),
//   processInput succeeds too and leaves the same tables with the same rows.
// Dot-commands outside a list of harmless ones (no files, processes, other
// connections or exits) are turned into comments before the run.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "shell/app/InputLoop.h"
#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "tests/fuzz/FuzzShell.h"

namespace {

using fuzzshell::Budget;

[[noreturn]] void fail(std::string_view zWhat) {
  fuzzshell::fail("fuzz_lines", zWhat);
}

constexpr int kWaitMask = 0xff;

bool isAtSemicolon(int state) {
  return (state & ~hasContent) == endsWithSemicolon;
}

bool containsNoCase(std::string_view z, std::string_view zWord) {
  auto it = std::search(z.begin(), z.end(), zWord.begin(), zWord.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
  return it != z.end();
}

std::vector<std::string> splitLines(const std::string& z) {
  std::vector<std::string> azLine;
  size_t iStart = 0;
  for (size_t i = 0; i <= z.size(); i++) {
    if (i == z.size() || z[i] == '\n') {
      azLine.push_back(z.substr(iStart, i - iStart));
      iStart = i + 1;
    }
  }
  return azLine;
}

// True when zRest holds nothing but white space and comments, by the engine's
// tokenizer: a statement followed by it is complete only with the semicolon.
bool isOnlyWhiteByEngine(const std::string& zRest) {
  std::string zWith = "SELECT 1;" + zRest;
  std::string zWithout = "SELECT 1" + zRest;
  return sqlite3_complete(zWith.c_str()) && !sqlite3_complete(zWithout.c_str());
}

bool isTerminatorByOracle(const std::string& zLine) {
  size_t i = 0;
  while (i < zLine.size() && std::isspace(static_cast<unsigned char>(zLine[i]))) i++;
  std::string zRest;
  if (zLine.compare(i, 1, "/") == 0) {
    zRest = zLine.substr(i + 1);
  } else if (i + 1 < zLine.size() && (zLine[i] == 'g' || zLine[i] == 'G') &&
             (zLine[i + 1] == 'o' || zLine[i + 1] == 'O')) {
    zRest = zLine.substr(i + 2);
  } else {
    return false;
  }
  return isOnlyWhiteByEngine(zRest);
}

void checkScanner(std::string_view zInput) {
  // The scanner reads zero-terminated lines: zero bytes become spaces here.
  std::string zText(zInput);
  std::replace(zText.begin(), zText.end(), '\0', ' ');
  const int whole = scanLine(zText.c_str(), 0);
  int byLine = 0;
  const std::vector<std::string> azLine = splitLines(zText);
  for (const std::string& zLine : azLine) {
    byLine = scanLine(zLine.c_str(), byLine);
    const int c = byLine & kWaitMask;
    if (c != 0 && c != '*' && c != '\'' && c != '"' && c != '`' && c != ']') {
      fail("unknown closing character in the state");
    }
    if ((byLine & ~(kWaitMask | hasContent | endsWithSemicolon)) != 0) fail("unknown state bits");
  }
  if (whole != byLine) fail("scanning line by line differs from scanning the whole text");

  // The engine's tokenizer takes \v for a token, the scanner for white space.
  if (zText.find('\v') == std::string::npos) {
    const bool bComplete = sqlite3_complete(zText.c_str()) != 0;
    if (bComplete && !isAtSemicolon(whole)) fail("complete text not at a semicolon");
    if (!bComplete && isAtSemicolon(whole) && !containsNoCase(zText, "create")) {
      fail("text at a semicolon not complete");
    }
    for (const std::string& zLine : azLine) {
      if (isCommandTerminator(zLine.c_str()) != isTerminatorByOracle(zLine)) {
        fail("isCommandTerminator disagrees with the oracle");
      }
    }
  }
  if ((whole & kWaitMask) != 0 && isCompleteSql(zText.c_str(), static_cast<int>(zText.size()))) {
    fail("isCompleteSql true inside a quote or comment");
  }
  isCompleteSql(zText.c_str(), 0);
  isCompleteSql(nullptr, 0);
}

// The dot-commands the run may keep: they only read the database or change
// settings of the state record.
bool isHarmless(DotHandler x) {
  static const DotHandler axAllowed[] = {
      doBail,    doBinary,    doChanges,   doEcho,       doEqp,       doExplain, doHeaders,
      doMode,    doNullvalue, doPrint,     doScanstats,  doSeparator, doShow,    doStats,
      doTimer,   doWidth,     doDatabases, doFullschema, doSchema,    doTables,  doDump,
      doSha3sum, doVersion,   doHelp,      doTimeout,
  };
  return std::find(std::begin(axAllowed), std::end(axAllowed), x) != std::end(axAllowed);
}

// Turns every line that would run a dot-command not on the list into a comment.
std::string tameDotCommands(std::string_view zInput) {
  std::string zOut(zInput);
  size_t iStart = 0;
  while (iStart < zOut.size()) {
    size_t iEnd = zOut.find('\n', iStart);
    if (iEnd == std::string::npos) iEnd = zOut.size();
    if (zOut[iStart] == '.') {
      std::string zLine = zOut.substr(iStart, iEnd - iStart);
      // The reader takes CR LF for a line end: ".output\r" runs .output.
      if (iEnd < zOut.size() && !zLine.empty() && zLine.back() == '\r') zLine.pop_back();
      zLine = zLine.c_str();  // a line with a zero byte is not run; tame it all the same
      char* azArg[maxDotArgs + 1];
      const int nArg = splitDotCommandLine(zLine.data(), azArg);
      const DotCommandRow* pRow = nArg > 0 ? findDotCommand(azArg[0]) : nullptr;
      if (pRow != nullptr && pRow->xHandler != nullptr && !isHarmless(pRow->xHandler)) {
        zOut[iStart] = '#';
      }
    }
    iStart = iEnd + 1;
  }
  return zOut;
}

// Tables and rows of main and temp, as text; empty when the budget ran out.
bool digestDatabase(sqlite3* db, const Budget& budget, std::string* pzOut) {
  std::string& z = *pzOut;
  for (const char* zSchema : {"main", "temp"}) {
    std::string zSql = std::string("SELECT type, name, sql FROM \"") + zSchema +
                       "\".sqlite_schema ORDER BY type, name";
    std::vector<std::string> azTable;
    {
      StmtPtr pStmt = prepareStmt(db, zSql.c_str());
      if (!pStmt) return false;
      while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
        for (int i = 0; i < 3; i++) {
          const char* zCol = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), i));
          z += zCol ? zCol : "NULL";
          z += '|';
        }
        z += '\n';
        const char* zType = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
        const char* zDef = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 2));
        if (zType && std::strcmp(zType, "table") == 0 && zDef &&
            sqlite3_strnicmp(zDef, "CREATE VIRTUAL", 14) != 0) {
          azTable.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1)));
        }
      }
      if (sqlite3_finalize(pStmt.release()) != SQLITE_OK) return false;
    }
    for (const std::string& zTable : azTable) {
      char* zQuery = sqlite3_mprintf("SELECT * FROM \"%w\".\"%w\"", zSchema, zTable.c_str());
      StmtPtr pStmt = prepareStmt(db, zQuery);
      sqlite3_free(zQuery);
      if (!pStmt) return false;
      z += zTable;
      z += ":\n";
      const int nCol = sqlite3_column_count(pStmt.get());
      while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
        for (int i = 0; i < nCol; i++) {
          z += static_cast<char>('0' + sqlite3_column_type(pStmt.get(), i));
          const void* pVal = sqlite3_column_blob(pStmt.get(), i);
          const int n = sqlite3_column_bytes(pStmt.get(), i);
          if (pVal) z.append(static_cast<const char*>(pVal), static_cast<size_t>(n));
          z += '\x1f';
        }
        z += '\n';
      }
      if (sqlite3_finalize(pStmt.release()) != SQLITE_OK) return false;
    }
  }
  return !budget.bExhausted;
}

// Whether the script can be compared with a plain sqlite3_exec run.
bool isComparable(const std::string& zScript) {
  if (zScript.find('\0') != std::string::npos) return false;
  for (const char* zWord : {"random", "now", "current_", "changes", "usleep"}) {
    if (containsNoCase(zScript, zWord)) return false;
  }
  for (const std::string& zLine : splitLines(zScript)) {
    if (!zLine.empty() && (zLine[0] == '.' || zLine[0] == '#')) return false;
    if (isCommandTerminator(zLine.c_str())) return false;
  }
  return true;
}

size_t countLines(std::string_view z) {
  size_t n = static_cast<size_t>(std::count(z.begin(), z.end(), '\n'));
  if (!z.empty() && z.back() != '\n') n++;
  return n;
}

void runScript(const std::string& zScript) {
  static ShellContext ctx;
  ShellContext* p = &ctx;
  fuzzshell::resetContext(p);
  FILE* const pNull = p->pOut;
  Budget budget;
  fuzzshell::openShellDb(p, &budget);
  FILE* in = fmemopen(const_cast<char*>(zScript.data()), zScript.size(), "rb");
  if (in == nullptr) fail("fmemopen");
  p->pIn = in;
  const int rc = processInput(p);
  std::fclose(in);
  p->pIn = nullptr;
  if (rc != 0 && rc != 1) fail("processInput result neither 0 nor 1");
  if (p->db == nullptr) fail("connection lost");

  // Every line is counted, also one holding a zero byte (reported, not run).
  if (!bBailOnError && static_cast<size_t>(p->iLineNo) != countLines(zScript)) {
    fail("lines read differ from the lines of the input");
  }

  {
    if (isComparable(zScript)) {
      Budget oracleBudget;
      // The same functions as the shell's connection, on a record of its own.
      static ShellContext oracleCtx;
      fuzzshell::resetContext(&oracleCtx);
      fuzzshell::openShellDb(&oracleCtx, &oracleBudget);
      sqlite3* dbOracle = oracleCtx.db;
      // The reader takes CR LF for a line end.
      std::string zSql;
      for (size_t i = 0; i < zScript.size(); i++) {
        if (zScript[i] == '\r' && i + 1 < zScript.size() && zScript[i + 1] == '\n') continue;
        zSql += zScript[i];
      }
      const int rcOracle = sqlite3_exec(dbOracle, zSql.c_str(), nullptr, nullptr, nullptr);
      std::string zExpect;
      std::string zGot;
      if (rcOracle == SQLITE_OK && !oracleBudget.bExhausted && !budget.bExhausted &&
          digestDatabase(dbOracle, oracleBudget, &zExpect) &&
          digestDatabase(p->db, budget, &zGot)) {
        if (rc != 0) fail("a script that runs through sqlite3_exec failed in processInput");
        if (zGot != zExpect) fail("processInput left other rows than sqlite3_exec");
      }
      fuzzshell::releaseContext(&oracleCtx, pNull);
    }
  }
  fuzzshell::releaseContext(p, pNull);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData == 0 || nData > 20000) return 0;
  std::string_view zInput(reinterpret_cast<const char*>(aData), nData);
  checkScanner(zInput);
  runScript(tameDotCommands(zInput));
  return 0;
}
