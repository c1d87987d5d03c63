// .import --detect-types against the plain import of the same CSV file (one
// million rows, a new table of a database file), and .import --json of one
// million objects.  --detect-types reads the file twice; the target is at most
// 1.5 times the plain import's time.  Each run happens in a child process, so
// its time and peak memory are its own; the tables are checked afterwards.
//
//   bench_import_types [--rows N] [--dir DIR] [--runs R]
//   bench_import_types --generate-json FILE [--rows N]   (for import_json_vs_python.sh)
//   bench_import_types --shell-json FILE DB              (one .import --json, for scripts)
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

void generateCsv(const std::string& zFile, long nRows) {
  FILE* f = std::fopen(zFile.c_str(), "wb");
  if (!f) {
    std::perror(zFile.c_str());
    std::exit(1);
  }
  std::fputs("id,name,amount,comment,created,zip\n", f);
  unsigned x = 12345;
  for (long i = 1; i <= nRows; i++) {
    x = x * 1103515245u + 12345u;
    const unsigned r = x >> 8;
    const char* zComment = i % 3 == 0 ? "\"note, with a comma\"" : "plain note text";
    std::fprintf(f, "%ld,user_%06u,%u.%02u,%s,2024-%02u-%02u,%05u\n", i, r % 1000000, r % 100000,
                 r % 100, zComment, 1 + r % 12, 1 + r % 28, r % 99999);
  }
  std::fclose(f);
}

void generateJson(const std::string& zFile, long nRows) {
  FILE* f = std::fopen(zFile.c_str(), "wb");
  if (!f) {
    std::perror(zFile.c_str());
    std::exit(1);
  }
  unsigned x = 12345;
  for (long i = 1; i <= nRows; i++) {
    x = x * 1103515245u + 12345u;
    const unsigned r = x >> 8;
    std::fprintf(f,
                 "{\"id\": %ld, \"name\": \"user_%06u\", \"amount\": %u.%02u, \"active\": %s, "
                 "\"created\": \"2024-%02u-%02u\", \"tags\": [\"t%u\", %u]}\n",
                 i, r % 1000000, r % 100000, r % 100, r % 2 ? "true" : "false", 1 + r % 12,
                 1 + r % 28, r % 7, r % 100);
  }
  std::fclose(f);
}

int shellImport(const std::vector<std::string>& aOption, const std::string& zFile,
                const std::string& zDb) {
  static ShellContext data;
  initShellContext(&data);
  data.pOut = stdout;
  if (sqlite3_open(zDb.c_str(), &data.db) != SQLITE_OK) return 1;
  std::vector<std::string> words = {".import"};
  words.insert(words.end(), aOption.begin(), aOption.end());
  words.push_back(zFile);
  words.push_back("t");
  std::vector<char*> azArg;
  for (auto& w : words) azArg.push_back(w.data());
  azArg.push_back(nullptr);
  const int rc = doImport(&data, static_cast<int>(words.size()), azArg.data());
  sqlite3_close(data.db);
  return rc;
}

struct Measure {
  double seconds;
  double cpuSeconds;
  long maxRssKb;
};

template <typename Fn>
Measure inChild(Fn fn) {
  const auto t0 = std::chrono::steady_clock::now();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    _exit(fn() == 0 ? 0 : 1);
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

// The declared types and a digest of the values, to check what was loaded.
std::string describe(const std::string& zDb) {
  sqlite3* db = nullptr;
  sqlite3_open(zDb.c_str(), &db);
  std::string r;
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT (SELECT group_concat(type, ' ') FROM pragma_table_info('t')),"
                     " count(*), total(id), sum(typeof(amount) = 'real') FROM t",
                     -1, &pStmt, nullptr);
  if (pStmt && sqlite3_step(pStmt) == SQLITE_ROW) {
    for (int i = 0; i < 4; i++) {
      const unsigned char* z = sqlite3_column_text(pStmt, i);
      r += std::string(i ? " | " : "") + (z ? reinterpret_cast<const char*>(z) : "NULL");
    }
  }
  sqlite3_finalize(pStmt);
  sqlite3_close(db);
  return r;
}

Measure best(int nRuns, const std::string& zDb, const std::vector<std::string>& aOption,
             const std::string& zFile, const char* zLabel) {
  Measure b{1e9, 1e9, 0};
  for (int i = 0; i < nRuns; i++) {
    std::remove(zDb.c_str());
    const Measure m = inChild([&] { return shellImport(aOption, zFile, zDb); });
    std::printf("  %s run %d: %.3f s (cpu %.3f s, peak %ld KiB)\n", zLabel, i + 1, m.seconds,
                m.cpuSeconds, m.maxRssKb);
    if (m.cpuSeconds < b.cpuSeconds) b = m;
  }
  return b;
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
    } else if (a == "--generate-json" && i + 1 < argc) {
      const std::string zFile = argv[++i];
      for (int j = i + 1; j + 1 < argc; j++) {
        if (std::string(argv[j]) == "--rows") nRows = std::atol(argv[j + 1]);
      }
      generateJson(zFile, nRows);
      return 0;
    } else if (a == "--shell-json" && i + 2 < argc) {
      return shellImport({"--json"}, argv[i + 1], argv[i + 2]);
    } else {
      std::fprintf(stderr, "usage: %s [--rows N] [--dir DIR] [--runs R]\n", argv[0]);
      return 1;
    }
  }
  const std::string zCsv = dir + "/bench_import_types.csv";
  const std::string zJson = dir + "/bench_import_types.json";
  const std::string zDb = dir + "/bench_import_types.db";
  generateCsv(zCsv, nRows);
  generateJson(zJson, nRows);
  std::printf("input: %ld rows\n", nRows);

  const Measure plain = best(nRuns, zDb, {"--csv"}, zCsv, "plain       ");
  const std::string dPlain = describe(zDb);
  const Measure typed = best(nRuns, zDb, {"--csv", "--detect-types"}, zCsv, "detect-types");
  const std::string dTyped = describe(zDb);
  const Measure json = best(nRuns, zDb, {"--json"}, zJson, "json        ");
  const std::string dJson = describe(zDb);
  std::printf("plain:        %.3f s, cpu %.3f s (peak %ld KiB)  [%s]\n", plain.seconds,
              plain.cpuSeconds, plain.maxRssKb, dPlain.c_str());
  std::printf("detect-types: %.3f s, cpu %.3f s (peak %ld KiB)  [%s]\n", typed.seconds,
              typed.cpuSeconds, typed.maxRssKb, dTyped.c_str());
  std::printf("json:         %.3f s, cpu %.3f s (peak %ld KiB)  [%s]\n", json.seconds,
              json.cpuSeconds, json.maxRssKb, dJson.c_str());
  std::printf("ratio detect-types/plain: cpu %.3f, wall %.3f (target <= 1.50)\n",
              typed.cpuSeconds / plain.cpuSeconds, typed.seconds / plain.seconds);
  std::remove(zDb.c_str());
  std::remove(zCsv.c_str());
  std::remove(zJson.c_str());
  return 0;
}
