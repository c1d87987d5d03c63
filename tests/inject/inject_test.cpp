// Fault injection over the real shell executable:
//  - failing allocations: sqlsh_inject fails its Nth allocation request (engine and C++ alike)
//    for N = 1, 2, 3, ... over representative scripts until a run needs no failure; every run
//    must end with the correct output, or with "out of memory" on standard error and status 1;
//  - failing writes: output to /dev/full, to a pipe whose reader has gone, and past the file
//    size limit (ulimit -f);
//  - kill -9 at random moments while .import, .restore, .backup, .save and .clone write a file
//    database: afterwards integrity_check passes and the target holds its earlier content or
//    its complete new content (for .clone: the target is absent or complete);
//  - .clone onto a full disk fails and leaves no file.
// Run counts are bounded so the test command stays fast; SQLSH_INJECT_FULL=1 runs every N of
// the allocation test and 200 kills per command instead of 20.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool fullRuns() {
  const char* z = std::getenv("SQLSH_INJECT_FULL");
  return z != nullptr && z[0] != 0 && z[0] != '0';
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A scratch directory removed at the end of the test (kept when the test failed).
class Scratch {
 public:
  Scratch() {
    std::string templ = (fs::temp_directory_path() / "sqlsh-inject-XXXXXX").string();
    if (mkdtemp(templ.data()) != nullptr) dir_ = templ;
  }
  ~Scratch() {
    std::error_code ec;
    if (!::testing::Test::HasFailure()) fs::remove_all(dir_, ec);
  }
  const fs::path& dir() const { return dir_; }
  fs::path operator/(const std::string& name) const { return dir_ / name; }

 private:
  fs::path dir_;
};

struct RunOptions {
  std::vector<std::pair<std::string, std::string>> env;
  std::string stdinPath;   // empty: /dev/null
  std::string stdoutPath;  // empty: a file "out" in the directory
  long nFileLimit = -1;    // RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  int nTimeoutMs = 30000;
};

struct RunResult {
  int iWaitStatus = 0;
  bool bTimedOut = false;
  std::string out;
  std::string err;

  bool exited() const { return WIFEXITED(iWaitStatus); }
  int code() const { return WIFEXITED(iWaitStatus) ? WEXITSTATUS(iWaitStatus) : -1; }
  std::string describe() const {
    std::ostringstream s;
    if (bTimedOut) s << "timed out; ";
    if (WIFSIGNALED(iWaitStatus)) s << "killed by signal " << WTERMSIG(iWaitStatus) << "; ";
    if (WIFEXITED(iWaitStatus)) s << "status " << WEXITSTATUS(iWaitStatus) << "; ";
    s << "stderr: [" << err.substr(0, 2000) << "]";
    return s.str();
  }
};

// Standard error goes to a pipe, which the file-size limit does not cut.
pid_t spawn(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir,
            const RunOptions& opt, const fs::path& outPath, int fdErr) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(dir.c_str()) != 0) _exit(120);
  const int fdIn = open(opt.stdinPath.empty() ? "/dev/null" : opt.stdinPath.c_str(), O_RDONLY);
  const int fdOut = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fdIn < 0 || fdOut < 0 || fdErr < 0) _exit(121);
  dup2(fdIn, 0);
  dup2(fdOut, 1);
  dup2(fdErr, 2);
  setenv("HOME", dir.c_str(), 1);  // no personal start-up file
  for (const auto& [name, value] : opt.env) setenv(name.c_str(), value.c_str(), 1);
  if (opt.nFileLimit >= 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{static_cast<rlim_t>(opt.nFileLimit), static_cast<rlim_t>(opt.nFileLimit)};
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("sqlsh"));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

// Appends what the pipe holds now to zText.
void drainPipe(int fd, std::string* zText) {
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) zText->append(buf, static_cast<size_t>(n));
}

RunResult waitFor(pid_t pid, int nTimeoutMs, int fdErr) {
  RunResult r;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
  for (;;) {
    drainPipe(fdErr, &r.err);
    const pid_t done = waitpid(pid, &r.iWaitStatus, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &r.iWaitStatus, 0);
      r.bTimedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  return r;
}

RunResult run(const std::string& exe, const std::vector<std::string>& args, const fs::path& dir,
              const RunOptions& opt = {}) {
  const fs::path outPath = opt.stdoutPath.empty() ? dir / "out" : fs::path(opt.stdoutPath);
  int aFd[2];
  if (pipe(aFd) != 0) return RunResult{};
  fcntl(aFd[0], F_SETFL, O_NONBLOCK);
  const pid_t pid = spawn(exe, args, dir, opt, outPath, aFd[1]);
  close(aFd[1]);
  RunResult r = waitFor(pid, opt.nTimeoutMs, aFd[0]);
  drainPipe(aFd[0], &r.err);
  close(aFd[0]);
  if (opt.stdoutPath.empty()) r.out = readFile(outPath);
  return r;
}

// Reports of the sanitizers and of the C++ runtime: never acceptable.
bool hasRuntimeReport(const std::string& err) {
  for (const char* z : {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer",
                        "runtime error:", "terminate called", "double free", "corrupted"}) {
    if (err.find(z) != std::string::npos) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Allocation-failure injection

struct AllocScript {
  const char* zName;
  std::vector<std::string> args;
  const char* zStdin;
  std::vector<std::pair<const char*, const char*>> files;
  unsigned nDense = 0;  // requests at the start tried one by one
};

constexpr const char* kModesSql = R"(CREATE TABLE t(a INTEGER, b TEXT, c REAL, d BLOB, e);
INSERT INTO t VALUES(1,'one',1.5,x'00ff',NULL),(2,'two "q"',-2.25,x'','x,y'),
  (3,'tab	here',3e10,NULL,'line
break'),(4,'ünï',0.1,x'41',4);
.mode list
SELECT * FROM t;
.headers on
.mode csv
SELECT * FROM t;
.mode column
SELECT * FROM t;
.mode box
SELECT * FROM t;
.mode table
SELECT * FROM t;
.mode markdown
SELECT * FROM t;
.mode json
SELECT * FROM t;
.mode html
SELECT * FROM t;
.mode insert t2
SELECT * FROM t;
.mode line
SELECT * FROM t;
.mode quote
SELECT * FROM t;
.mode tabs
SELECT * FROM t;
.mode tcl
SELECT * FROM t;
.mode ascii
SELECT * FROM t;
.mode qbox
SELECT * FROM t;
.mode box --wrap 5
SELECT * FROM t;
)";

constexpr const char* kImportCsv =
    "name,age,city\nada,36,London\n\"bob, jr\",41,\"New\nYork\"\ncy,,Paris\n"
    "dee,29,\"say \"\"hi\"\"\"\neve,52,Oslo\nfay,18,Rome\n";

constexpr const char* kImportSql = R"(.import --csv data.csv people
SELECT count(*), sum(age), max(length(city)) FROM people;
.import --csv --skip 1 data.csv people
SELECT count(*) FROM people;
.mode ascii
.import data.txt words
SELECT * FROM words;
)";

constexpr const char* kDumpSql = R"(CREATE TABLE a(x INTEGER PRIMARY KEY, y TEXT, z BLOB);
INSERT INTO a VALUES(1,'it''s',x'0102'),(2,NULL,NULL),(3,'a'||char(10)||'b',x'');
CREATE TABLE "odd name"("col 1", c2 REAL);
INSERT INTO "odd name" VALUES('v',2.5),(NULL,-0.0);
CREATE INDEX ai ON a(y);
CREATE VIEW av AS SELECT y FROM a;
CREATE TRIGGER tr AFTER INSERT ON a BEGIN SELECT 1; END;
.dump
.dump a
.dump --data-only
)";

constexpr const char* kSchemaSql = R"(CREATE TABLE p(id INTEGER PRIMARY KEY, name TEXT UNIQUE);
CREATE TABLE c(id INTEGER PRIMARY KEY, pid REFERENCES p(id), v);
CREATE INDEX ci ON c(pid, v);
CREATE VIEW pv AS SELECT name FROM p;
.schema
.schema c
.tables
.indexes
.indexes c
.databases
.fullschema --indent
)";

constexpr const char* kExtensionsSql = R"(SELECT value FROM generate_series(1,5,2);
SELECT hex(sha3('abc',256)), lower(hex(sha3_query('SELECT 1')));
SELECT decimal_add('1.5','2.25'), decimal_mul('1.1','1.1'), decimal_sub('1','3');
SELECT 'abc' REGEXP 'b+', regexpi('ABC','^a');
SELECT ieee754(2.5), ieee754_mantissa(6.0);
SELECT candidate FROM completion('SEL') ORDER BY 1 LIMIT 3;
SELECT writefile('f.txt','hello');
SELECT readfile('f.txt');
SELECT name, lsmode(mode) FROM fsdir('f.txt');
CREATE TABLE s(x); INSERT INTO s VALUES(1),(2);
.sha3sum
)";

constexpr const char* kParamsSql = R"(.parameter init
.parameter set :x 42
.parameter set $y 'text'
SELECT :x + 1, $y;
.parameter list
.timer off
.eqp on
SELECT * FROM sqlite_schema WHERE name = :x;
.eqp off
.show
)";

const std::vector<AllocScript>& allocScripts() {
  static const std::vector<AllocScript> scripts = {
      {"modes", {":memory:"}, kModesSql, {}},
      {"import",
       {"test.db"},
       kImportSql,
       {{"data.csv", kImportCsv},
        {"data.txt",
         "a\x1f"
         "b\x1e"
         "c\x1f"
         "d\x1e"}},
       0},
      {"dump", {":memory:"}, kDumpSql, {}},
      {"schema", {":memory:"}, kSchemaSql, {}},
      {"extensions", {":memory:"}, kExtensionsSql, {}},
      {"parameters", {":memory:"}, kParamsSql, {}},
      {"command-line",
       {"-bail", "-box", ":memory:", "SELECT 1 AS a, 'x' AS b", ".tables"},
       "",
       {},
       400},
  };
  return scripts;
}

struct AllocReport {
  unsigned long long nRequests = 0;
  bool bFired = false;
  bool bPresent = false;
};

AllocReport readAllocReport(const fs::path& path) {
  AllocReport r;
  std::istringstream in(readFile(path));
  int iFired = 0;
  if (in >> r.nRequests >> iFired) {
    r.bFired = iFired != 0;
    r.bPresent = true;
  }
  return r;
}

// The values of N to try for a script whose clean run makes nTotal requests: every one in a
// full run; otherwise every one of the first nDense (start-up, which every script shares) and
// 80 more spread evenly over the rest.
std::vector<unsigned long long> failurePoints(unsigned long long nTotal, unsigned nDense) {
  std::vector<unsigned long long> a;
  if (fullRuns() || nTotal <= nDense + 80) {
    for (unsigned long long n = 1; n <= nTotal + 1; n++) a.push_back(n);
    return a;
  }
  for (unsigned long long n = 1; n <= nDense; n++) a.push_back(n);
  const unsigned long long nStep = (nTotal - nDense) / 80 + 1;
  for (unsigned long long n = nDense + nStep / 2; n <= nTotal; n += nStep) a.push_back(n);
  a.push_back(nTotal + 1);
  return a;
}

class AllocFailure : public ::testing::TestWithParam<AllocScript> {};

TEST_P(AllocFailure, EveryRunEndsCorrectlyOrWithOutOfMemory) {
  const AllocScript& script = GetParam();
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const fs::path input = scratch / "input.sql";
  writeFile(input, script.zStdin);
  const fs::path report = scratch / "report";
  auto prepare = [&] {
    std::error_code ec;
    fs::remove(scratch / "test.db", ec);
    fs::remove(scratch / "f.txt", ec);
    for (const auto& [zName, zText] : script.files) writeFile(scratch / zName, zText);
  };
  RunOptions opt;
  opt.stdinPath = input.string();
  opt.env = {{"SQLSH_FAIL_ALLOC_REPORT", report.string()}, {"SQLSH_FAIL_ALLOC", "0"}};

  prepare();
  const RunResult clean = run(INJECT_SQLSH_FAULTS, script.args, scratch.dir(), opt);
  ASSERT_EQ(clean.code(), 0) << clean.describe();
  ASSERT_EQ(clean.err, "");
  const AllocReport cleanReport = readAllocReport(report);
  ASSERT_TRUE(cleanReport.bPresent);
  ASSERT_GT(cleanReport.nRequests, 10u);

  int nRuns = 0;
  int nOom = 0;
  int nFaults = 0;
  for (const bool bOnward : {false, true}) {
    for (const unsigned long long n : failurePoints(cleanReport.nRequests, script.nDense)) {
      if (bOnward && n % 5 != 1 && !fullRuns()) continue;
      prepare();
      fs::remove(report);
      opt.env[1].second = std::to_string(n) + (bOnward ? "+" : "");
      const RunResult r = run(INJECT_SQLSH_FAULTS, script.args, scratch.dir(), opt);
      nRuns++;
      const AllocReport rep = readAllocReport(report);
      const std::string where =
          std::string(script.zName) + " with SQLSH_FAIL_ALLOC=" + opt.env[1].second + ": ";
      bool bGood = r.exited() && !hasRuntimeReport(r.err);
      if (bGood && r.code() == 0) {
        bGood = r.out == clean.out && r.err.empty();
      } else if (bGood) {
        // An SQL argument of the command line ends the shell with the engine's result code.
        const bool bStatusOk = r.code() == 1 || (r.code() == SQLITE_NOMEM && script.nDense != 0);
        // .parameter reports its errors on the output, as the command always has.
        bGood = bStatusOk && (r.err.find("out of memory") != std::string::npos ||
                              r.out.find("Error: out of memory") != std::string::npos);
        nOom++;
      }
      if (!bGood && ++nFaults <= 5) {
        ADD_FAILURE() << where << r.describe() << "\nstdout:\n" << r.out.substr(0, 1500);
      }
      if (rep.bPresent && !rep.bFired) break;  // this run needed no failure
    }
  }
  EXPECT_EQ(nFaults, 0);
  std::printf("[ figures  ] %s: %llu requests in a clean run, %d runs, %d ended out of memory\n",
              script.zName, cleanReport.nRequests, nRuns, nOom);
}

INSTANTIATE_TEST_SUITE_P(Scripts, AllocFailure, ::testing::ValuesIn(allocScripts()),
                         [](const ::testing::TestParamInfo<AllocScript>& info) {
                           std::string s = info.param.zName;
                           for (char& c : s) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return s;
                         });

}  // namespace

namespace {

// ---------------------------------------------------------------------------------------------
// kill -9 during commands that write a file database

using DbPtr = std::unique_ptr<sqlite3, decltype(&sqlite3_close)>;

DbPtr openDb(const fs::path& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  return DbPtr(db, &sqlite3_close);
}

std::string queryText(sqlite3* db, const char* zSql) {
  sqlite3_stmt* pStmt = nullptr;
  std::string s;
  if (sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) != SQLITE_OK) {
    return std::string("error: ") + sqlite3_errmsg(db);
  }
  int rc = 0;
  while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(pStmt); i++) {
      const unsigned char* z = sqlite3_column_text(pStmt, i);
      s += z ? reinterpret_cast<const char*>(z) : "";
      s += '|';
    }
    s += '\n';
  }
  if (rc != SQLITE_DONE) s += std::string("error: ") + sqlite3_errmsg(db);
  sqlite3_finalize(pStmt);
  return s;
}

void execSql(const fs::path& path, const char* zSql) {
  DbPtr db = openDb(path);
  ASSERT_EQ(sqlite3_exec(db.get(), zSql, nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db.get());
}

// What a database holds, in a form that tells the earlier content from the new: its tables
// and the count and sums of the one data table.  Opening it read-write rolls back a hot
// journal left by a killed writer, as any later user of the file would.
struct Inspection {
  std::string integrity;
  std::string content;
};

Inspection inspect(const fs::path& path) {
  Inspection r;
  if (!fs::exists(path)) {
    r.integrity = "ok|\n";
    r.content = "(no file)";
    return r;
  }
  DbPtr db = openDb(path);
  r.integrity = queryText(db.get(), "PRAGMA integrity_check");
  std::string tables =
      queryText(db.get(), "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
  r.content = tables;
  if (tables.find("big|") != std::string::npos) {
    r.content += queryText(db.get(), "SELECT count(*), total(x), total(length(y)) FROM big");
  }
  return r;
}

constexpr const char* kCrashSeed =
    "CREATE TABLE big(x INTEGER PRIMARY KEY, y TEXT);"
    "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<60000)"
    " INSERT INTO big SELECT i, printf('%.*c', 80 + i % 40, 'a') || i FROM c;";

constexpr const char* kCrashEarlier =
    "CREATE TABLE big(x INTEGER PRIMARY KEY, y TEXT);"
    "INSERT INTO big VALUES(-1,'earlier'),(-2,'content');"
    "CREATE TABLE other(z);";

struct CrashCase {
  const char* zName;
  std::vector<std::string> args;
  bool bTargetStartsMissing;  // .clone needs a new file, and only a complete copy may appear
};

// The files of the scratch directory whose names begin with zPrefix: a copy's target, its
// journals, and the file a clone builds beside it.
std::vector<std::string> filesStartingWith(const fs::path& dir, const std::string& zPrefix) {
  std::vector<std::string> a;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(zPrefix, 0) == 0) a.push_back(name);
  }
  std::sort(a.begin(), a.end());
  return a;
}

class CrashConsistency : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashConsistency, KilledCommandLeavesEarlierOrCompleteContent) {
  const CrashCase& c = GetParam();
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const fs::path src = scratch / "src.db";
  const fs::path target = scratch / "target.db";
  execSql(src, kCrashSeed);
  {
    std::ofstream csv(scratch / "data.csv");
    for (int i = 1; i <= 60000; i++) csv << i << ",row " << std::string(80 + i % 40, 'b') << "\n";
  }
  auto resetTarget = [&] {
    std::error_code ec;
    // A killed clone leaves the file it was building (target.db.clone-XXXXXX) behind.
    for (const std::string& z : filesStartingWith(scratch.dir(), "target.db")) {
      fs::remove(scratch / z, ec);
    }
    if (!c.bTargetStartsMissing) execSql(target, kCrashEarlier);
  };

  resetTarget();
  const std::string earlier = inspect(target).content;
  const auto t0 = std::chrono::steady_clock::now();
  const RunResult clean = run(INJECT_SQLSH, c.args, scratch.dir());
  const auto nCleanUs =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  ASSERT_EQ(clean.code(), 0) << clean.describe();
  const Inspection complete = inspect(target);
  ASSERT_EQ(complete.integrity, "ok|\n");
  ASSERT_NE(complete.content, earlier);
  if (c.bTargetStartsMissing) {
    EXPECT_EQ(filesStartingWith(scratch.dir(), "target.db"), std::vector<std::string>{"target.db"});
  }

  std::mt19937 rng(std::random_device{}());
  std::uniform_int_distribution<long> delay(0, nCleanUs + nCleanUs / 5);
  const int nKills = fullRuns() ? 200 : 20;
  int nKilled = 0;
  int nEarlier = 0;
  for (int i = 0; i < nKills; i++) {
    resetTarget();
    RunOptions opt;
    const int fdErr = open((scratch / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = spawn(INJECT_SQLSH, c.args, scratch.dir(), opt, scratch / "out", fdErr);
    close(fdErr);
    const long nDelayUs = delay(rng);
    std::this_thread::sleep_for(std::chrono::microseconds(nDelayUs));
    kill(pid, SIGKILL);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    if (WIFSIGNALED(iStatus)) nKilled++;
    // A copy into a new file is absent until it is complete: no empty or partial target, and
    // no journal of one to roll back.
    if (c.bTargetStartsMissing && fs::exists(target)) {
      EXPECT_FALSE(fs::exists(scratch / "target.db-journal"))
          << c.zName << ", killed after " << nDelayUs << " us";
    }
    Inspection after = inspect(target);
    EXPECT_EQ(after.integrity, "ok|\n") << c.zName << ", killed after " << nDelayUs << " us";
    if (after.content == earlier) {
      nEarlier++;
    } else {
      EXPECT_EQ(after.content, complete.content)
          << c.zName << ", killed after " << nDelayUs << " us: neither the earlier (" << earlier
          << ") nor the complete content";
    }
  }
  std::printf(
      "[ figures  ] %s: clean run %ld us, %d runs, %d killed, %d left the earlier "
      "content\n",
      c.zName, static_cast<long>(nCleanUs), nKills, nKilled, nEarlier);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CrashConsistency,
    ::testing::Values(CrashCase{"import", {"target.db", ".import --csv data.csv big"}, false},
                      CrashCase{"restore", {"target.db", ".restore src.db"}, false},
                      CrashCase{"backup", {"src.db", ".backup target.db"}, false},
                      CrashCase{"save", {"src.db", ".save target.db"}, false},
                      CrashCase{"clone", {"src.db", ".clone target.db"}, true}),
    [](const ::testing::TestParamInfo<CrashCase>& info) { return std::string(info.param.zName); });

// .clone onto a full disk (the file-size limit cut at points before and inside the copy), both
// through whole-table copies and, inside a transaction, row by row: the run fails, and neither
// the target nor the file it was built in is left.
TEST(CloneFailure, AFullDiskFailsTheCloneAndLeavesNoFile) {
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  execSql(scratch / "src.db", kCrashSeed);
  const auto nSource = static_cast<long>(fs::file_size(scratch / "src.db"));
  for (const bool bRowByRow : {false, true}) {
    for (const long nLimit : {4096L, 65536L, nSource / 2, nSource - 4096}) {
      RunOptions opt;
      opt.nFileLimit = nLimit;
      std::vector<std::string> args = {"-bail", "src.db"};
      if (bRowByRow) args.emplace_back("BEGIN");
      args.emplace_back(".clone target.db");
      const RunResult r = run(INJECT_SQLSH, args, scratch.dir(), opt);
      const std::string zWhat = std::string(bRowByRow ? "row by row" : "whole tables") +
                                ", limit " + std::to_string(nLimit) + ": ";
      EXPECT_EQ(r.code(), 1) << zWhat << r.describe();
      EXPECT_NE(r.err.find("Error"), std::string::npos) << zWhat << r.describe();
      EXPECT_EQ(filesStartingWith(scratch.dir(), "target.db"), std::vector<std::string>{})
          << zWhat << r.describe();
    }
  }
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------------------------
// Failing writes: the representative scripts with their output on a destination that fails
// after K bytes.  A failing device or file makes the run fail with a message naming the
// destination; a reader that goes away ends the output quietly.

struct WriteScript {
  const char* zName;
  const char* zStdin;
};

const std::vector<WriteScript>& writeScripts() {
  static const std::vector<WriteScript> scripts = {
      {"modes", kModesSql},           {"dump", kDumpSql},         {"schema", kSchemaSql},
      {"extensions", kExtensionsSql}, {"parameters", kParamsSql},
  };
  return scripts;
}

// The byte counts after which the destination fails: none at all, a few, and points inside
// the output of a clean run.
std::vector<long> failingSizes(size_t nClean) {
  std::vector<long> a = {0, 1, 7};
  for (const size_t n : {nClean / 4, nClean / 2, nClean - 1}) {
    if (n > 7) a.push_back(static_cast<long>(n));
  }
  return a;
}

class WriteFailure : public ::testing::TestWithParam<WriteScript> {};

TEST_P(WriteFailure, AFailingDestinationFailsTheRunAndIsNamed) {
  const WriteScript& script = GetParam();
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const fs::path input = scratch / "input.sql";
  writeFile(input, script.zStdin);
  RunOptions opt;
  opt.stdinPath = input.string();
  const RunResult clean = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), opt);
  ASSERT_EQ(clean.code(), 0) << clean.describe();
  ASSERT_GT(clean.out.size(), 20u);

  // Standard output on /dev/full.
  {
    RunOptions full = opt;
    full.stdoutPath = "/dev/full";
    const RunResult r = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), full);
    EXPECT_EQ(r.code(), 1) << "stdout on /dev/full: " << r.describe();
    EXPECT_NE(r.err.find("\"stdout\""), std::string::npos) << r.describe();
    EXPECT_FALSE(hasRuntimeReport(r.err)) << r.describe();
  }
  // Standard output, and a file of .output, cut by the file-size limit after K bytes.
  for (const long nLimit : failingSizes(clean.out.size())) {
    RunOptions limited = opt;
    limited.nFileLimit = nLimit;
    const RunResult r = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), limited);
    EXPECT_EQ(r.code(), 1) << "stdout limited to " << nLimit << " bytes: " << r.describe();
    EXPECT_NE(r.err.find("\"stdout\""), std::string::npos) << r.describe();
    EXPECT_FALSE(hasRuntimeReport(r.err)) << r.describe();
    EXPECT_LE(r.out.size(), static_cast<size_t>(nLimit));

    const fs::path redirected = scratch / "redirected.sql";
    writeFile(redirected, std::string(".output result.txt\n") + script.zStdin);
    limited.stdinPath = redirected.string();
    const RunResult o = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), limited);
    EXPECT_EQ(o.code(), 1) << ".output limited to " << nLimit << " bytes: " << o.describe();
    EXPECT_NE(o.err.find("\"result.txt\""), std::string::npos) << o.describe();
    EXPECT_FALSE(hasRuntimeReport(o.err)) << o.describe();
  }
  // Standard output on a FIFO whose reader leaves after K bytes: the run ends, quietly.
  for (const long nRead : failingSizes(clean.out.size())) {
    const fs::path fifo = scratch / "fifo";
    std::error_code ec;
    fs::remove(fifo, ec);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t reader = fork();
    if (reader == 0) {
      const int fd = open(fifo.c_str(), O_RDONLY);
      char buf[256];
      long nLeft = nRead;
      while (nLeft > 0) {
        const ssize_t n = read(fd, buf, static_cast<size_t>(std::min<long>(nLeft, sizeof(buf))));
        if (n <= 0) break;
        nLeft -= n;
      }
      _exit(0);
    }
    RunOptions piped = opt;
    piped.stdoutPath = fifo.string();
    piped.nTimeoutMs = 20000;
    const RunResult r = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), piped);
    int iStatus = 0;
    waitpid(reader, &iStatus, 0);
    EXPECT_FALSE(r.bTimedOut) << "reader leaving after " << nRead << " bytes";
    // Ended quietly: exited, or stopped by SIGPIPE as any writer into a closed pipe is.
    EXPECT_TRUE(r.exited() || (WIFSIGNALED(r.iWaitStatus) && WTERMSIG(r.iWaitStatus) == SIGPIPE))
        << "reader leaving after " << nRead << " bytes: " << r.describe();
    EXPECT_EQ(r.err.find("cannot write"), std::string::npos) << r.describe();
    EXPECT_FALSE(hasRuntimeReport(r.err)) << r.describe();
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, WriteFailure, ::testing::ValuesIn(writeScripts()),
                         [](const ::testing::TestParamInfo<WriteScript>& info) {
                           return std::string(info.param.zName);
                         });

// An endless query into a pipe whose reader takes two lines stops, instead of running on.
TEST(WriteFailure, EndlessQueryIntoAPipeWhoseReaderLeftStops) {
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const fs::path input = scratch / "input.sql";
  writeFile(input,
            ".output |head -2 >head.txt\n"
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT x FROM c;\n"
            ".output stdout\nSELECT 'after';\n");
  RunOptions opt;
  opt.stdinPath = input.string();
  opt.nTimeoutMs = 20000;
  const RunResult r = run(INJECT_SQLSH, {":memory:"}, scratch.dir(), opt);
  EXPECT_FALSE(r.bTimedOut);
  EXPECT_EQ(r.code(), 0) << r.describe();
  EXPECT_EQ(r.out, "after\n");
  EXPECT_EQ(readFile(scratch / "head.txt"), "1\n2\n");
}

}  // namespace
