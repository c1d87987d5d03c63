// .import against a bare C baseline: the same CSV file (about 100 MB, one
// million rows) loaded into a new table of a database file.  The baseline
// reads the file in blocks, splits it with a minimal quote-aware parser and
// inserts with one prepared statement in one transaction.  Each run happens in
// a child process, so its time and peak memory are its own.
//
//   bench_import [--rows N] [--dir DIR] [--runs R]
//   bench_import --generate FILE [--rows N]
//   bench_import --shell FILE DB          (one .import, for scripts)
//   bench_import --count DB               (rows of table t)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace {

const char* const azHeader[] = {"id", "name", "amount", "comment", "created", "email"};
constexpr int nColumns = 6;

void generate(const std::string& zFile, long nRows) {
  FILE* f = std::fopen(zFile.c_str(), "wb");
  if (!f) {
    std::perror(zFile.c_str());
    std::exit(1);
  }
  std::fputs("id,name,amount,comment,created,email\n", f);
  unsigned x = 12345;
  for (long i = 1; i <= nRows; i++) {
    x = x * 1103515245u + 12345u;
    const unsigned r = x >> 8;
    // Every third comment is quoted and holds a comma; every 50th a doubled quote.
    const char* zComment = i % 50 == 0  ? "\"said \"\"hi\"\", left\""
                           : i % 3 == 0 ? "\"note, with a comma\""
                                        : "plain note text without any commas";
    std::fprintf(f, "%ld,user_%06u,%u.%02u,%s,2024-%02u-%02uT%02u:%02u:%02u,u%u@example.org\n", i,
                 r % 1000000, r % 100000, r % 100, zComment, 1 + r % 12, 1 + r % 28, r % 24, r % 60,
                 (r >> 3) % 60, r % 999983);
  }
  std::fclose(f);
}

void check(int rc, sqlite3* db, const char* zWhat) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", zWhat, sqlite3_errmsg(db));
    std::exit(1);
  }
}

// The baseline: blocks of 64 KiB, quoted fields with doubled quotes, LF line ends,
// one prepared INSERT, one transaction.
void baseline(const std::string& zFile, const std::string& zDb) {
  sqlite3* db = nullptr;
  check(sqlite3_open(zDb.c_str(), &db), db, "open");
  std::string create = "CREATE TABLE t(";
  for (int i = 0; i < nColumns; i++) create += std::string(i ? ", " : "") + azHeader[i] + " TEXT";
  create += ")";
  check(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), db, "create");
  check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  sqlite3_stmt* pStmt = nullptr;
  check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?,?)", -1, &pStmt, nullptr), db,
        "prepare");
  FILE* f = std::fopen(zFile.c_str(), "rb");
  std::vector<char> block(65536);
  std::string field;
  int iCol = 0;
  bool bHeader = true;
  bool bQuoted = false;  // inside quotes
  bool bQuote = false;   // a quote was just seen inside quotes
  bool bAtStart = true;  // at the first byte of a field
  auto endField = [&] {
    if (!bHeader && iCol < nColumns) {
      sqlite3_bind_text(pStmt, iCol + 1, field.data(), static_cast<int>(field.size()),
                        SQLITE_TRANSIENT);
    }
    iCol++;
    field.clear();
    bQuoted = bQuote = false;
    bAtStart = true;
  };
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) {
    for (size_t i = 0; i < n; i++) {
      const char c = block[i];
      if (bQuoted) {
        if (c == '"') {
          bQuoted = false;
          bQuote = true;
          continue;
        }
        field += c;
        continue;
      }
      if (c == '"') {
        if (bAtStart || bQuote) {
          if (bQuote) field += '"';
          bQuoted = true;
          bQuote = false;
          bAtStart = false;
          continue;
        }
      }
      if (c == ',') {
        endField();
      } else if (c == '\n') {
        endField();
        if (!bHeader) {
          sqlite3_step(pStmt);
          check(sqlite3_reset(pStmt), db, "insert");
        }
        bHeader = false;
        iCol = 0;
      } else {
        field += c;
        bAtStart = false;
      }
    }
  }
  std::fclose(f);
  sqlite3_finalize(pStmt);
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

int shellImport(const std::string& zFile, const std::string& zDb) {
  static ShellContext data;
  initShellContext(&data);
  data.pOut = stdout;
  check(sqlite3_open(zDb.c_str(), &data.db), data.db, "open");
  std::string words[] = {".import", "--csv", zFile, "t"};
  char* azArg[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
  const int rc = doImport(&data, 4, azArg);
  sqlite3_close(data.db);
  return rc;
}

struct Measure {
  double seconds;     // wall clock
  double cpuSeconds;  // user + system
  long maxRssKb;
};

// Runs fn in a child process; its wall time and peak resident memory.
template <typename Fn>
Measure inChild(Fn fn) {
  const auto t0 = std::chrono::steady_clock::now();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    fn();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  struct rusage ru;
  wait4(pid, &status, 0, &ru);
  const auto t1 = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "child failed\n");
    std::exit(1);
  }
  const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                     static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  return {std::chrono::duration<double>(t1 - t0).count(), cpu, ru.ru_maxrss};
}

// A digest of the table, to check that both loads hold the same data.
std::string digest(const std::string& zDb) {
  sqlite3* db = nullptr;
  sqlite3_open(zDb.c_str(), &db);
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT count(*), sum(length(id)+length(name)+length(amount)"
                     "+length(comment)+length(created)+length(email)), "
                     "sum(instr(comment,'\"')>0), max(comment) FROM t",
                     -1, &pStmt, nullptr);
  std::string r;
  if (pStmt && sqlite3_step(pStmt) == SQLITE_ROW) {
    for (int i = 0; i < 4; i++) {
      const unsigned char* z = sqlite3_column_text(pStmt, i);
      r += std::string(i ? "|" : "") + (z ? reinterpret_cast<const char*>(z) : "NULL");
    }
  }
  sqlite3_finalize(pStmt);
  sqlite3_close(db);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  long nRows = 1000000;
  int nRuns = 3;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc) {
      nRows = std::atol(argv[++i]);
    } else if (a == "--runs" && i + 1 < argc) {
      nRuns = std::atoi(argv[++i]);
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--generate" && i + 1 < argc) {
      const std::string zFile = argv[++i];
      for (int j = i + 1; j + 1 < argc; j++) {
        if (std::string(argv[j]) == "--rows") nRows = std::atol(argv[j + 1]);
      }
      generate(zFile, nRows);
      return 0;
    } else if (a == "--count" && i + 1 < argc) {
      const std::string d = digest(argv[i + 1]);
      std::printf("%s\n", d.substr(0, d.find('|')).c_str());
      return 0;
    } else if (a == "--shell" && i + 2 < argc) {
      return shellImport(argv[i + 1], argv[i + 2]);
    } else {
      std::fprintf(stderr, "usage: %s [--rows N] [--dir DIR] [--runs R]\n", argv[0]);
      return 1;
    }
  }
  const std::string zFile = dir + "/bench_import.csv";
  const std::string zDbBase = dir + "/bench_import_base.db";
  const std::string zDbShell = dir + "/bench_import_shell.db";
  generate(zFile, nRows);
  FILE* f = std::fopen(zFile.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long nBytes = std::ftell(f);
  std::fclose(f);
  std::printf("input: %ld rows, %.1f MB\n", nRows, static_cast<double>(nBytes) / 1e6);

  // Best of the runs; CPU time is the steadier figure on a busy machine.
  Measure bestBase{1e9, 1e9, 0};
  Measure bestShell{1e9, 1e9, 0};
  for (int iRun = 0; iRun < nRuns; iRun++) {
    std::remove(zDbBase.c_str());
    std::remove(zDbShell.c_str());
    const Measure b = inChild([&] { baseline(zFile, zDbBase); });
    const Measure s = inChild([&] {
      if (shellImport(zFile, zDbShell) != 0) _exit(1);
    });
    std::printf("run %d: baseline %.3f s (cpu %.3f s), .import %.3f s (cpu %.3f s)\n", iRun + 1,
                b.seconds, b.cpuSeconds, s.seconds, s.cpuSeconds);
    if (b.cpuSeconds < bestBase.cpuSeconds) bestBase = b;
    if (s.cpuSeconds < bestShell.cpuSeconds) bestShell = s;
  }
  const std::string dBase = digest(zDbBase);
  const std::string dShell = digest(zDbShell);
  if (dBase != dShell) {
    std::fprintf(stderr, "tables differ: %s vs %s\n", dBase.c_str(), dShell.c_str());
    return 1;
  }
  std::printf("baseline: %.3f s, cpu %.3f s (peak %ld KiB)\n", bestBase.seconds,
              bestBase.cpuSeconds, bestBase.maxRssKb);
  std::printf(".import:  %.3f s, cpu %.3f s (peak %ld KiB)\n", bestShell.seconds,
              bestShell.cpuSeconds, bestShell.maxRssKb);
  std::printf("ratio .import/baseline: cpu %.3f, wall %.3f (target <= 1.20)\n",
              bestShell.cpuSeconds / bestBase.cpuSeconds, bestShell.seconds / bestBase.seconds);
  std::remove(zDbBase.c_str());
  std::remove(zDbShell.c_str());
  std::remove(zFile.c_str());
  return 0;
}
