// End-to-end runner: every case of tests/e2e/cases/*.test becomes one GoogleTest test that runs
// a real executable in a fresh scratch directory and compares what it did with the case's
// expectations.  The format of the case files is described in tests/e2e/README.md.

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#ifndef E2E_CASES_DIR
#error "E2E_CASES_DIR must name the folder of the case files"
#endif
#ifndef E2E_SOURCE_DIR
#error "E2E_SOURCE_DIR must name the root of the source tree"
#endif
#ifndef E2E_SQLSH
#define E2E_SQLSH ""
#endif
#ifndef E2E_BANKA
#define E2E_BANKA ""
#endif

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------
// The case record

struct Fixture {  // "--- file NAME" or "--- db NAME"
  bool bDb = false;
  std::string zName;
  std::string zBody;
  int iLine = 0;
};

struct Expected {  // "--- stdout" / "--- stderr"
  bool bAny = false;
  bool bGlob = false;  // each line is a GLOB pattern for the same line of the output
  std::string zText;
  int iLine = 0;
};

struct Check {  // "--- check-file NAME" or "--- check-sql NAME"
  bool bSql = false;
  std::string zName;
  std::string zBody;
  int iLine = 0;
};

struct Case {
  std::string zFile;  // path of the case file
  int iLine = 0;      // line of the "===" header
  std::string zTitle;
  std::string zProgram = "sqlsh";
  std::vector<std::string> azArgs;
  std::vector<std::pair<std::string, std::string>> aEnv;  // value absent: unset the variable
  std::vector<bool> abEnvUnset;
  std::vector<Fixture> aFixtures;
  std::string zStdin;
  Expected stdoutWant;
  Expected stderrWant;
  int iExitWant = 0;
  int iExitLine = 0;
  std::vector<Check> aChecks;
  std::string zError;  // a fault in the case file itself
};

// ---------------------------------------------------------------------------------------------
// Reading case files

const std::set<std::string, std::less<>> kSections = {"program", "args",       "env",      "file",
                                                      "db",      "stdin",      "stdout",   "stderr",
                                                      "exit",    "check-file", "check-sql"};

std::string trim(std::string_view z) {
  size_t i = 0, n = z.size();
  while (i < n && (z[i] == ' ' || z[i] == '\t')) i++;
  while (n > i && (z[n - 1] == ' ' || z[n - 1] == '\t' || z[n - 1] == '\r')) n--;
  return std::string(z.substr(i, n - i));
}

// The section name of a "--- name ..." line, or "" when the line is no section marker.  Only
// known names count, so that output lines such as "---  ---" stay ordinary body lines.
std::string sectionName(std::string_view zLine) {
  if (zLine.substr(0, 4) != "--- ") return "";
  std::string_view z = zLine.substr(4);
  size_t n = 0;
  while (n < z.size() && z[n] != ' ' && z[n] != '\t' && z[n] != '(') n++;
  std::string zName(z.substr(0, n));
  return kSections.count(zName) ? zName : "";
}

bool isCaseHeader(std::string_view zLine) {
  return zLine == "===" || zLine.substr(0, 4) == "=== ";
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the C escapes \t \r \n \\ \xHH; any other backslash stays as it is.
std::string unescape(std::string_view z) {
  std::string zOut;
  for (size_t i = 0; i < z.size(); i++) {
    if (z[i] != '\\' || i + 1 >= z.size()) {
      zOut += z[i];
      continue;
    }
    char c = z[i + 1];
    if (c == 't') {
      zOut += '\t';
      i++;
    } else if (c == 'r') {
      zOut += '\r';
      i++;
    } else if (c == 'n') {
      zOut += '\n';
      i++;
    } else if (c == '\\') {
      zOut += '\\';
      i++;
    } else if (c == 'x' && i + 3 < z.size() && hexValue(z[i + 2]) >= 0 && hexValue(z[i + 3]) >= 0) {
      zOut += static_cast<char>(hexValue(z[i + 2]) * 16 + hexValue(z[i + 3]));
      i += 3;
    } else {
      zOut += '\\';
    }
  }
  return zOut;
}

// Splits an argument line at blanks; '...' and "..." group words (no escapes inside).
bool splitArgs(std::string_view z, std::vector<std::string>& azOut, std::string& zError) {
  size_t i = 0;
  while (i < z.size()) {
    while (i < z.size() && (z[i] == ' ' || z[i] == '\t' || z[i] == '\n' || z[i] == '\r')) i++;
    if (i >= z.size()) break;
    std::string zWord;
    while (i < z.size() && z[i] != ' ' && z[i] != '\t' && z[i] != '\n' && z[i] != '\r') {
      if (z[i] == '\'' || z[i] == '"') {
        char q = z[i++];
        size_t j = z.find(q, i);
        if (j == std::string_view::npos) {
          zError = "unterminated quote in args";
          return false;
        }
        zWord.append(z.substr(i, j - i));
        i = j + 1;
      } else {
        zWord += z[i++];
      }
    }
    azOut.push_back(zWord);
  }
  return true;
}

struct Header {
  std::string zName;
  std::vector<std::string> azWords;  // the words after the name, options removed
  std::string zRest;                 // everything after the name, trimmed
  bool bNoEol = false, bEscaped = false, bAny = false, bGlob = false;
  std::string zFrom;  // (from=PATH): the body is a file of the source tree
  std::string zBadOption;
};

Header parseHeader(std::string_view zLine) {
  Header h;
  h.zName = sectionName(zLine);
  std::string_view z = zLine.substr(4 + h.zName.size());
  h.zRest = trim(z);
  std::vector<std::string> azWords;
  std::string zIgnored;
  if (h.zName != "env") splitArgs(z, azWords, zIgnored);
  for (const auto& zWord : azWords) {
    if (zWord.size() >= 2 && zWord.front() == '(' && zWord.back() == ')') {
      std::stringstream opts(zWord.substr(1, zWord.size() - 2));
      std::string zOpt;
      while (std::getline(opts, zOpt, ',')) {
        zOpt = trim(zOpt);
        if (zOpt == "noeol") {
          h.bNoEol = true;
        } else if (zOpt == "escaped") {
          h.bEscaped = true;
        } else if (zOpt == "any") {
          h.bAny = true;
        } else if (zOpt == "glob") {
          h.bGlob = true;
        } else if (zOpt.rfind("from=", 0) == 0 && zOpt.size() > 5) {
          h.zFrom = zOpt.substr(5);
        } else {
          h.zBadOption = zOpt;
        }
      }
    } else {
      h.azWords.push_back(zWord);
    }
  }
  return h;
}

std::string bodyText(const Header& h, const std::vector<std::string>& azLines) {
  std::string z;
  for (const auto& zLine : azLines) z += zLine + "\n";
  if (h.bNoEol && !z.empty()) z.pop_back();
  return h.bEscaped ? unescape(z) : z;
}

// Applies one finished section to the case.
void applySection(Case& c, const Header& h, int iLine, const std::vector<std::string>& azBody) {
  auto fail = [&](const std::string& zWhy) {
    if (c.zError.empty()) c.zError = c.zFile + ":" + std::to_string(iLine) + ": " + zWhy;
  };
  if (!h.zBadOption.empty()) return fail("unknown option (" + h.zBadOption + ")");
  const std::string& n = h.zName;
  bool bHeaderOnly = (n == "program" || n == "env" || n == "exit");
  if (bHeaderOnly) {
    for (const auto& zLine : azBody) {
      if (!trim(zLine).empty()) return fail("section '" + n + "' takes no body");
    }
  }
  std::string zBody = bodyText(h, azBody);
  if (!h.zFrom.empty()) {
    if (n != "file" && n != "db") return fail("(from=...) only serves 'file' and 'db'");
    for (const auto& zLine : azBody) {
      if (!trim(zLine).empty()) return fail("a section with (from=...) takes no body");
    }
    std::ifstream in(fs::path(E2E_SOURCE_DIR) / h.zFrom, std::ios::binary);
    if (!in) return fail("cannot read " + h.zFrom);
    std::stringstream ss;
    ss << in.rdbuf();
    zBody = ss.str();
  }
  if (n == "program") {
    if (h.azWords.size() != 1) return fail("'program' needs one name");
    c.zProgram = h.azWords[0];
  } else if (n == "args") {
    std::vector<std::string> azWords;
    std::string zRaw;
    for (const auto& zLine : azBody) zRaw += zLine + "\n";
    std::string zWhy;
    if (!splitArgs(zRaw, azWords, zWhy)) return fail(zWhy);
    for (auto& zWord : azWords) c.azArgs.push_back(h.bEscaped ? unescape(zWord) : zWord);
  } else if (n == "env") {
    if (h.zRest.empty()) return fail("'env' needs NAME=VALUE");
    size_t iEq = h.zRest.find('=');
    if (iEq == std::string::npos) {
      c.aEnv.emplace_back(h.zRest, "");
      c.abEnvUnset.push_back(true);
    } else {
      c.aEnv.emplace_back(h.zRest.substr(0, iEq), h.zRest.substr(iEq + 1));
      c.abEnvUnset.push_back(false);
    }
  } else if (n == "file" || n == "db") {
    if (h.azWords.size() != 1) return fail("'" + n + "' needs one file name");
    c.aFixtures.push_back({n == "db", h.azWords[0], zBody, iLine});
  } else if (n == "stdin") {
    c.zStdin = zBody;
  } else if (n == "stdout" || n == "stderr") {
    Expected& e = (n == "stdout") ? c.stdoutWant : c.stderrWant;
    e = {h.bAny, h.bGlob, zBody, iLine};
  } else if (n == "exit") {
    if (h.azWords.size() != 1) return fail("'exit' needs one number");
    char* zEnd = nullptr;
    long v = strtol(h.azWords[0].c_str(), &zEnd, 10);
    if (*zEnd != 0) return fail("'exit' needs one number");
    c.iExitWant = static_cast<int>(v);
    c.iExitLine = iLine;
  } else if (n == "check-file" || n == "check-sql") {
    if (h.azWords.size() != 1) return fail("'" + n + "' needs one file name");
    if (n == "check-sql" && azBody.empty()) return fail("'check-sql' needs a query line");
    c.aChecks.push_back({n == "check-sql", h.azWords[0], zBody, iLine});
  }
}

std::vector<Case> readCaseFile(const fs::path& path) {
  std::vector<Case> aCases;
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string zAll = ss.str();
  std::vector<std::string> azLines;
  size_t iStart = 0;
  while (iStart < zAll.size()) {
    size_t iEnd = zAll.find('\n', iStart);
    if (iEnd == std::string::npos) iEnd = zAll.size();
    azLines.push_back(zAll.substr(iStart, iEnd - iStart));
    iStart = iEnd + 1;
  }

  const std::string zFile = path.string();
  Case* pCase = nullptr;
  bool bInSection = false;
  Header h;
  int iSectionLine = 0;
  std::vector<std::string> azBody;
  auto finishSection = [&]() {
    if (pCase && bInSection) applySection(*pCase, h, iSectionLine, azBody);
    bInSection = false;
    azBody.clear();
  };
  for (size_t i = 0; i < azLines.size(); i++) {
    const std::string& zLine = azLines[i];
    int iLine = static_cast<int>(i) + 1;
    if (isCaseHeader(zLine)) {
      finishSection();
      aCases.emplace_back();
      pCase = &aCases.back();
      pCase->zFile = zFile;
      pCase->iLine = iLine;
      pCase->zTitle = trim(zLine.substr(3));
      continue;
    }
    if (!pCase) {
      if (!trim(zLine).empty() && zLine[0] != '#') {
        aCases.emplace_back();
        aCases.back().zFile = zFile;
        aCases.back().iLine = iLine;
        aCases.back().zTitle = "file format";
        aCases.back().zError =
            zFile + ":" + std::to_string(iLine) + ": text before the first '===' line";
        return aCases;
      }
      continue;
    }
    if (!sectionName(zLine).empty()) {
      finishSection();
      h = parseHeader(zLine);
      iSectionLine = iLine;
      bInSection = true;
      continue;
    }
    if (bInSection) {
      azBody.push_back(zLine);
    } else if (!trim(zLine).empty() && pCase->zError.empty()) {
      pCase->zError = zFile + ":" + std::to_string(iLine) + ": text outside of any section";
    }
  }
  finishSection();
  return aCases;
}

// ---------------------------------------------------------------------------------------------
// Showing differences

std::vector<std::string> splitLines(const std::string& z, bool& bFinalEol) {
  std::vector<std::string> az;
  size_t i = 0;
  while (i < z.size()) {
    size_t j = z.find('\n', i);
    if (j == std::string::npos) {
      az.push_back(z.substr(i));
      break;
    }
    az.push_back(z.substr(i, j - i));
    i = j + 1;
  }
  bFinalEol = z.empty() || z.back() == '\n';
  return az;
}

// A line as it is shown in a diff: control characters escaped, the end marked with '$'.
std::string visible(const std::string& z) {
  std::string zOut;
  for (unsigned char c : z) {
    if (c == '\t') {
      zOut += "\\t";
    } else if (c == '\r') {
      zOut += "\\r";
    } else if (c == '\\') {
      zOut += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", c);
      zOut += buf;
    } else {
      zOut += static_cast<char>(c);
    }
  }
  return zOut + "$";
}

// At most the first few kilobytes of a text, for messages.
std::string excerpt(const std::string& z) {
  const size_t nMax = 4000;
  if (z.size() <= nMax) return z;
  return z.substr(0, nMax) + "\n... (" + std::to_string(z.size() - nMax) + " more bytes)\n";
}

// A line diff of two texts ("-" expected, "+" actual, " " both), with three lines of context.
std::string diffTexts(const std::string& zWant, const std::string& zGot) {
  bool bWantEol = true, bGotEol = true;
  std::vector<std::string> a = splitLines(zWant, bWantEol);
  std::vector<std::string> b = splitLines(zGot, bGotEol);
  std::ostringstream out;
  out << "(- expected, + actual; '$' marks the end of a line)\n";
  size_t n = a.size(), m = b.size();
  std::vector<std::pair<char, std::string>> aOps;
  if (n * m > 4000000) {
    for (const auto& z : a) aOps.emplace_back('-', z);
    for (const auto& z : b) aOps.emplace_back('+', z);
  } else {
    // Longest common subsequence, filled from the end.
    std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
    for (size_t i = n; i-- > 0;) {
      for (size_t j = m; j-- > 0;) {
        lcs[i][j] = (a[i] == b[j]) ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
      }
    }
    size_t i = 0, j = 0;
    while (i < n || j < m) {
      if (i < n && j < m && a[i] == b[j]) {
        aOps.emplace_back(' ', a[i]);
        i++;
        j++;
      } else if (i < n && (j >= m || lcs[i + 1][j] >= lcs[i][j + 1])) {
        aOps.emplace_back('-', a[i++]);
      } else {
        aOps.emplace_back('+', b[j++]);
      }
    }
  }
  std::vector<bool> abShow(aOps.size(), false);
  for (size_t k = 0; k < aOps.size(); k++) {
    if (aOps[k].first == ' ') continue;
    size_t lo = k >= 3 ? k - 3 : 0, hi = std::min(aOps.size(), k + 4);
    for (size_t x = lo; x < hi; x++) abShow[x] = true;
  }
  bool bSkipped = false;
  int nShown = 0;
  for (size_t k = 0; k < aOps.size(); k++) {
    if (nShown >= 200) {
      out << "  ... (the rest of the difference is not shown)\n";
      break;
    }
    if (!abShow[k]) {
      if (!bSkipped) out << "  ...\n";
      bSkipped = true;
      continue;
    }
    bSkipped = false;
    nShown++;
    std::string zShown = visible(aOps[k].second);
    if (zShown.size() > 500) zShown = zShown.substr(0, 500) + "... (line cut)";
    out << aOps[k].first << ' ' << zShown << "\n";
  }
  if (zWant == zGot + "\n" && zGot.size() > 0 && zGot.back() == '\n') {
    out << "hint: a blank line ends the expected text; a blank line before the next '===' belongs\n"
           "      to the body above it, so separate cases without blank lines\n";
  }
  if (bWantEol != bGotEol) {
    out << (bWantEol ? "+ (the actual text does not end with a newline)\n"
                     : "- (the expected text does not end with a newline)\n");
  }
  return out.str();
}

// ---------------------------------------------------------------------------------------------
// Running a case

std::string readFile(const fs::path& path, bool& bExists) {
  std::ifstream in(path, std::ios::binary);
  bExists = static_cast<bool>(in);
  if (!bExists) return "";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool writeFile(const fs::path& path, const std::string& z) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(z.data(), static_cast<std::streamsize>(z.size()));
  return static_cast<bool>(out);
}

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

bool makeDatabase(const fs::path& path, const std::string& zSql, std::string& zError) {
  sqlite3* pDb = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  DbPtr db(pDb);
  if (rc != SQLITE_OK) {
    zError = pDb ? sqlite3_errmsg(pDb) : "out of memory";
    return false;
  }
  char* zErr = nullptr;
  rc = sqlite3_exec(pDb, zSql.c_str(), nullptr, nullptr, &zErr);
  if (rc != SQLITE_OK) {
    zError = zErr ? zErr : sqlite3_errmsg(pDb);
    sqlite3_free(zErr);
    return false;
  }
  return true;
}

// Runs a query on a database and returns its rows, one per line, columns joined by "|".
bool queryRows(const fs::path& path, const std::string& zSql, std::string& zRows,
               std::string& zError) {
  if (!fs::exists(path)) {
    zError = "the database does not exist";
    return false;
  }
  sqlite3* pDb = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr);
  DbPtr db(pDb);
  if (rc != SQLITE_OK) {
    zError = pDb ? sqlite3_errmsg(pDb) : "out of memory";
    return false;
  }
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(pDb, zSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
    zError = sqlite3_errmsg(pDb);
    return false;
  }
  while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
    int nCol = sqlite3_column_count(pStmt);
    for (int i = 0; i < nCol; i++) {
      if (i > 0) zRows += '|';
      const unsigned char* z = sqlite3_column_text(pStmt, i);
      if (z) zRows.append(reinterpret_cast<const char*>(z), sqlite3_column_bytes(pStmt, i));
    }
    zRows += '\n';
  }
  if (rc != SQLITE_DONE) zError = sqlite3_errmsg(pDb);
  sqlite3_finalize(pStmt);
  return rc == SQLITE_DONE;
}

std::string commandLine(const Case& c) {
  std::string z = c.zProgram;
  for (const auto& zArg : c.azArgs) {
    bool bQuote = zArg.empty() || zArg.find_first_of(" \t\n'\"") != std::string::npos;
    z += " ";
    z += bQuote ? "'" + zArg + "'" : zArg;
  }
  return z;
}

struct RunResult {
  bool bStarted = false;
  bool bTimedOut = false;
  int iSignal = 0;
  int iExit = -1;
  std::string zError;
};

int timeoutSeconds() {
  const char* z = getenv("SQLSH_E2E_TIMEOUT");
  int n = z ? atoi(z) : 0;
  return n > 0 ? n : 20;
}

RunResult runProgram(const std::string& zExe, const Case& c, const fs::path& work,
                     const fs::path& home, const fs::path& inPath, const fs::path& outPath,
                     const fs::path& errPath) {
  RunResult r;
  std::vector<std::string> azArgv = {c.zProgram};
  azArgv.insert(azArgv.end(), c.azArgs.begin(), c.azArgs.end());
  std::vector<char*> argv;
  for (auto& z : azArgv) argv.push_back(z.data());
  argv.push_back(nullptr);

  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid < 0) {
    r.zError = std::string("fork failed: ") + strerror(errno);
    return r;
  }
  if (pid == 0) {
    setpgid(0, 0);
    // A runaway program must not fill the disk: files it writes stop at 64 MiB.
    struct rlimit limit = {64UL << 20, 64UL << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    int fdIn = open(inPath.c_str(), O_RDONLY);
    int fdOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int fdErr = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fdIn < 0 || fdOut < 0 || fdErr < 0 || chdir(work.c_str()) != 0) _exit(126);
    dup2(fdIn, 0);
    dup2(fdOut, 1);
    dup2(fdErr, 2);
    close(fdIn);
    close(fdOut);
    close(fdErr);
    setenv("HOME", home.c_str(), 1);
    for (size_t i = 0; i < c.aEnv.size(); i++) {
      if (c.abEnvUnset[i]) {
        unsetenv(c.aEnv[i].first.c_str());
      } else {
        setenv(c.aEnv[i].first.c_str(), c.aEnv[i].second.c_str(), 1);
      }
    }
    execv(zExe.c_str(), argv.data());
    const char zMsg[] = "e2e runner: exec failed\n";
    ssize_t nIgnored = write(2, zMsg, sizeof zMsg - 1);
    (void)nIgnored;
    _exit(127);
  }
  r.bStarted = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds());
  auto pause = std::chrono::microseconds(100);
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) {
      r.zError = std::string("waitpid failed: ") + strerror(errno);
      return r;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      r.bTimedOut = true;
      return r;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
  if (WIFEXITED(status)) {
    r.iExit = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.iSignal = WTERMSIG(status);
  }
  return r;
}

// A fresh scratch directory per case: work/ is the program's working directory, home/ its
// empty HOME, and the standard streams live beside them.  Kept after a failure for a look.
class Scratch {
 public:
  Scratch() {
    const char* zTmp = getenv("TMPDIR");
    std::string zTemplate = std::string(zTmp && *zTmp ? zTmp : "/tmp") + "/sqlsh-e2e-XXXXXX";
    std::vector<char> buf(zTemplate.begin(), zTemplate.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) {
      base_ = buf.data();
      fs::create_directory(work());
      fs::create_directory(home());
    }
  }
  ~Scratch() {
    if (base_.empty()) return;
    if (testing::Test::HasFailure()) {
      fprintf(stderr, "scratch directory kept: %s\n", base_.c_str());
    } else {
      std::error_code ec;
      fs::remove_all(base_, ec);
    }
  }
  bool ok() const { return !base_.empty(); }
  fs::path work() const { return base_ / "work"; }
  fs::path home() const { return base_ / "home"; }
  fs::path base() const { return base_; }

 private:
  fs::path base_;
};

// With (glob): the texts have as many lines, and each line of the output
// matches the GLOB pattern of the same line ("*", "?", "[...]"; "[[]" for "[").
bool matchesLineGlobs(const std::string& zPatterns, const std::string& zGot) {
  std::istringstream patterns(zPatterns);
  std::istringstream got(zGot);
  std::string zPattern;
  std::string zLine;
  while (std::getline(patterns, zPattern)) {
    if (!std::getline(got, zLine)) return false;
    if (sqlite3_strglob(zPattern.c_str(), zLine.c_str()) != 0) return false;
  }
  if (std::getline(got, zLine)) return false;
  // The final line end must agree too.
  return zPatterns.empty() == zGot.empty() &&
         (zPatterns.empty() || (zPatterns.back() == '\n') == (zGot.back() == '\n'));
}

void compareStream(const Case& c, const char* zWhich, const Expected& want,
                   const std::string& zGot) {
  if (want.bAny || want.zText == zGot) return;
  if (want.bGlob && matchesLineGlobs(want.zText, zGot)) return;
  int iLine = want.iLine ? want.iLine : c.iLine;
  ADD_FAILURE_AT(c.zFile.c_str(), iLine)
      << zWhich << " differs for \"" << c.zTitle << "\" (" << commandLine(c) << ")\n"
      << diffTexts(want.zText, zGot);
}

void runCase(const Case& c) {
  if (!c.zError.empty()) {
    ADD_FAILURE_AT(c.zFile.c_str(), c.iLine) << "bad case file: " << c.zError;
    return;
  }
  std::string zExe;
  if (c.zProgram == "sqlsh") {
    zExe = E2E_SQLSH;
  } else if (c.zProgram == "banka") {
    zExe = E2E_BANKA;
  } else {
    ADD_FAILURE_AT(c.zFile.c_str(), c.iLine) << "unknown program '" << c.zProgram << "'";
    return;
  }
  if (zExe.empty()) GTEST_SKIP() << c.zProgram << " is not built in this tree";

  Scratch scratch;
  ASSERT_TRUE(scratch.ok()) << "cannot create a scratch directory: " << strerror(errno);
  for (const auto& f : c.aFixtures) {
    fs::path path = scratch.work() / f.zName;
    if (f.bDb) {
      std::string zError;
      if (!makeDatabase(path, f.zBody, zError)) {
        ADD_FAILURE_AT(c.zFile.c_str(), f.iLine) << "cannot create " << f.zName << ": " << zError;
        return;
      }
    } else if (!writeFile(path, f.zBody)) {
      ADD_FAILURE_AT(c.zFile.c_str(), f.iLine) << "cannot write " << f.zName;
      return;
    }
  }
  fs::path inPath = scratch.base() / "stdin";
  fs::path outPath = scratch.base() / "stdout";
  fs::path errPath = scratch.base() / "stderr";
  ASSERT_TRUE(writeFile(inPath, c.zStdin));

  RunResult r = runProgram(zExe, c, scratch.work(), scratch.home(), inPath, outPath, errPath);
  ASSERT_TRUE(r.bStarted) << r.zError;
  bool bExists = false;
  std::string zOut = readFile(outPath, bExists);
  std::string zErr = readFile(errPath, bExists);
  if (r.bTimedOut) {
    ADD_FAILURE_AT(c.zFile.c_str(), c.iLine)
        << "\"" << c.zTitle << "\" (" << commandLine(c) << ") did not finish within "
        << timeoutSeconds() << " s and was killed\nstdout so far:\n"
        << excerpt(zOut) << "\nstderr so far:\n"
        << excerpt(zErr);
    return;
  }
  ASSERT_TRUE(r.zError.empty()) << r.zError;
  if (r.iSignal) {
    ADD_FAILURE_AT(c.zFile.c_str(), c.iLine)
        << "\"" << c.zTitle << "\" (" << commandLine(c) << ") was killed by signal " << r.iSignal
        << " (" << strsignal(r.iSignal) << ")\nstderr:\n"
        << excerpt(zErr);
  }
  compareStream(c, "stdout", c.stdoutWant, zOut);
  compareStream(c, "stderr", c.stderrWant, zErr);
  if (!r.iSignal && r.iExit != c.iExitWant) {
    ADD_FAILURE_AT(c.zFile.c_str(), c.iExitLine ? c.iExitLine : c.iLine)
        << "exit code of \"" << c.zTitle << "\" (" << commandLine(c) << "): expected "
        << c.iExitWant << ", got " << r.iExit;
  }
  for (const auto& chk : c.aChecks) {
    fs::path path = scratch.work() / chk.zName;
    if (!chk.bSql) {
      bool bFound = false;
      std::string zGot = readFile(path, bFound);
      if (!bFound) {
        ADD_FAILURE_AT(c.zFile.c_str(), chk.iLine) << chk.zName << " does not exist after the run";
      } else if (zGot != chk.zBody) {
        ADD_FAILURE_AT(c.zFile.c_str(), chk.iLine) << "content of " << chk.zName << " differs\n"
                                                   << diffTexts(chk.zBody, zGot);
      }
      continue;
    }
    size_t iEol = chk.zBody.find('\n');
    std::string zQuery = chk.zBody.substr(0, iEol);
    std::string zWant = iEol == std::string::npos ? "" : chk.zBody.substr(iEol + 1);
    std::string zRows, zError;
    if (!queryRows(path, zQuery, zRows, zError)) {
      ADD_FAILURE_AT(c.zFile.c_str(), chk.iLine)
          << "query on " << chk.zName << " failed: " << zError << "\n  " << zQuery;
    } else if (zRows != zWant) {
      ADD_FAILURE_AT(c.zFile.c_str(), chk.iLine)
          << "rows of \"" << zQuery << "\" on " << chk.zName << " differ\n"
          << diffTexts(zWant, zRows);
    }
  }
}

class CaseTest : public testing::Test {
 public:
  explicit CaseTest(Case c) : case_(std::move(c)) {}
  void TestBody() override { runCase(case_); }

 private:
  Case case_;
};

// A test name made of letters, digits and '_' only, so that filters and ctest handle it.
std::string identifier(std::string_view z) {
  std::string zOut;
  for (char c : z) {
    bool bWord = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (bWord) {
      zOut += c;
    } else if (!zOut.empty() && zOut.back() != '_') {
      zOut += '_';
    }
  }
  while (!zOut.empty() && zOut.back() == '_') zOut.pop_back();
  return zOut.empty() ? "case" : zOut;
}

void registerCases() {
  std::vector<fs::path> aFiles;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(E2E_CASES_DIR, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == ".test") {
      aFiles.push_back(entry.path());
    }
  }
  std::sort(aFiles.begin(), aFiles.end());
  for (const auto& path : aFiles) {
    std::string zSuite = identifier(path.stem().string());
    std::set<std::string> seen;
    for (auto& c : readCaseFile(path)) {
      std::string zBase = identifier(c.zTitle), zName = zBase;
      for (int i = 2; seen.count(zName); i++) zName = zBase + "_" + std::to_string(i);
      seen.insert(zName);
      std::string zFile = c.zFile;
      int iLine = c.iLine;
      testing::RegisterTest(zSuite.c_str(), zName.c_str(), nullptr, nullptr, zFile.c_str(), iLine,
                            [c = std::move(c)]() -> testing::Test* { return new CaseTest(c); });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  registerCases();
  return RUN_ALL_TESTS();
}
