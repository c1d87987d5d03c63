// Runs the real sqlsh on a pseudo-terminal and drives it like a user would:
// shared by the tests of the terminal behaviour.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace ptytest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The sqlsh executable: $SQLSH_BIN, else the build tree's shell/sqlsh next
// to this test's own directory.
inline std::string shellPath() {
  if (const char* z = getenv("SQLSH_BIN"); z && *z) return z;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  fs::path candidate = self.parent_path().parent_path() / "shell" / "sqlsh";
  return fs::exists(candidate) ? candidate.string() : "";
}

// Runs one query on a database file and returns the first column of each row.
inline std::vector<std::string> queryColumn(const std::string& zDb, const char* zSql) {
  std::vector<std::string> aRows;
  sqlite3* db = nullptr;
  if (sqlite3_open(zDb.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(pStmt) == SQLITE_ROW) {
        const unsigned char* z = sqlite3_column_text(pStmt, 0);
        aRows.emplace_back(z ? reinterpret_cast<const char*>(z) : "");
      }
    }
    sqlite3_finalize(pStmt);
  }
  sqlite3_close(db);
  return aRows;
}

// Creates a database file with the statements of zSql.
inline void makeDatabase(const std::string& zDb, const char* zSql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(zDb.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, zSql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

class TempDir {
 public:
  TempDir() {
    std::string zTemplate = (fs::temp_directory_path() / "sqlsh-term-XXXXXX").string();
    std::vector<char> buf(zTemplate.begin(), zTemplate.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string stripCarriageReturns(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != '\r') out += c;
  }
  return out;
}

inline std::string bannerText() {
  return std::string("SQLite version ") + sqlite3_libversion() + " " +
         std::string(sqlite3_sourceid()).substr(0, 19) + "\nEnter \".help\" for usage hints.\n";
}

// Environment settings for the child: a name and its value.
using EnvSettings = std::vector<std::pair<std::string, std::string>>;

// A child process whose standard streams all go to one pseudo-terminal of
// 80 columns.  The child sees TERM=dumb (plain line input) unless env says
// otherwise, and none of NO_COLOR and SQLSH_HISTORY that the caller may have.
// It starts with SIGHUP and SIGTERM at their default actions, except those
// listed in ignored, which it starts ignoring.
class PtySession {
 public:
  PtySession(const std::vector<std::string>& args, const std::string& home,
             const EnvSettings& env = {}, const std::vector<int>& ignored = {}) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ioctl(master_, TIOCSWINSZ, &size);
    std::string slaveName = ptsname(master_);
    std::string exe = shellPath();
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      int slave = open(slaveName.c_str(), O_RDWR);  // becomes the controlling terminal
      if (slave < 0) _exit(126);
      dup2(slave, 0);
      dup2(slave, 1);
      dup2(slave, 2);
      if (slave > 2) close(slave);
      close(master_);
      setenv("HOME", home.c_str(), 1);
      setenv("TERM", "dumb", 1);
      unsetenv("NO_COLOR");
      unsetenv("SQLSH_HISTORY");
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      signal(SIGHUP, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      for (int iSignal : ignored) signal(iSignal, SIG_IGN);
      if (chdir(home.c_str()) != 0) _exit(126);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>("sqlsh"));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
  }
  ~PtySession() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0 && master_ >= 0; }
  pid_t pid() const { return pid_; }

  // Reads until the output (carriage returns removed) ends with zText, or
  // until the time is up; returns everything read since the last call.
  std::string readUntil(const std::string& zText, std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      std::string clean = stripCarriageReturns(pending_);
      if (clean.size() >= zText.size() &&
          clean.compare(clean.size() - zText.size(), zText.size(), zText) == 0) {
        pending_.clear();
        return clean;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !readSome(left)) {
        std::string all = clean;
        pending_.clear();
        return all;
      }
    }
  }

  void send(const std::string& zText) {
    ssize_t n = write(master_, zText.data(), zText.size());
    ASSERT_EQ(n, static_cast<ssize_t>(zText.size()));
  }

  // The exit code, or -1 when the process did not end in time or was killed.
  int waitExit(std::chrono::milliseconds timeout = 10s) {
    const int status = waitStatus(timeout);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The wait status (as waitpid gives it), or -1 when the process did not
  // end in time.
  int waitStatus(std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      readSome(10ms);  // keep the terminal drained
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return status;
      }
    }
    return -1;
  }

  // Gives the terminal a new size, as when its window is resized.
  void resize(unsigned short nRows, unsigned short nCols) {
    winsize size{};
    size.ws_row = nRows;
    size.ws_col = nCols;
    ioctl(master_, TIOCSWINSZ, &size);
  }

  // Closes the terminal's far side, as when its window is closed or the
  // connection drops: the child's terminal hangs up.
  void hangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  bool readSome(std::chrono::milliseconds timeout) {
    if (master_ < 0) {
      poll(nullptr, 0, static_cast<int>(timeout.count()));
      return false;
    }
    pollfd pfd{master_, POLLIN, 0};
    int rc = poll(&pfd, 1, static_cast<int>(timeout.count()));
    if (rc <= 0) return rc == 0;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;  // EIO once the child has closed the terminal
    pending_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string pending_;
};

inline bool contains(const std::string& zText, const std::string& zPart) {
  return zText.find(zPart) != std::string::npos;
}

#define REQUIRE_SHELL()                                                  \
  do {                                                                   \
    if (shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built"; \
  } while (0)

// Sends one line at the prompt and returns what the shell printed for it:
// the echoed line and the next prompt are left out.
inline std::string answer(PtySession& s, const std::string& zLine) {
  s.send(zLine + "\n");
  std::string z = s.readUntil("sqlite> ", 20s);
  const std::string zEcho = zLine + "\n";
  if (z.compare(0, zEcho.size(), zEcho) == 0) z.erase(0, zEcho.size());
  const std::string zPrompt = "sqlite> ";
  if (z.size() >= zPrompt.size() &&
      z.compare(z.size() - zPrompt.size(), zPrompt.size(), zPrompt) == 0) {
    z.erase(z.size() - zPrompt.size());
  }
  return z;
}

}  // namespace ptytest
