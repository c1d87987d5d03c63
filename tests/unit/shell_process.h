// Runs the real sqlsh executable in a directory of its own, with standard
// input from a text and standard output and error captured, and snapshots
// what a directory holds so that a test can tell whether anything was written.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace shell_process {

namespace fs = std::filesystem;

// True in the sanitizer build, whose shadow memory rules out address-space limits.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool bSanitized = true;
#else
inline constexpr bool bSanitized = false;
#endif

// The sqlsh executable: $SQLSH_BIN, else the build tree's shell/sqlsh next to
// this test's own directory; "" when there is none.
inline std::string shellPath() {
  if (const char* z = getenv("SQLSH_BIN"); z && *z) return z;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  fs::path candidate = self.parent_path().parent_path() / "shell" / "sqlsh";
  return fs::exists(candidate) ? candidate.string() : "";
}

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the scope.
class TempDir {
 public:
  TempDir() {
    std::string zTemplate = (fs::temp_directory_path() / "sqlsh-test-XXXXXX").string();
    std::vector<char> buf(zTemplate.begin(), zTemplate.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& zName) const { return path_ + "/" + zName; }

 private:
  std::string path_;
};

// Sets an environment variable for the scope and puts back what it was at its end: a test
// that runs the shell through /bin/sh gives it a HOME of its own this way, so that no
// personal start-up file is read.
class ScopedEnv {
 public:
  ScopedEnv(const char* zName, const std::string& zValue) : zName_(zName) {
    if (const char* z = getenv(zName)) {
      zSaved_ = z;
      bHadValue_ = true;
    }
    setenv(zName, zValue.c_str(), 1);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (bHadValue_) {
      setenv(zName_, zSaved_.c_str(), 1);
    } else {
      unsetenv(zName_);
    }
  }

 private:
  const char* zName_;
  std::string zSaved_;
  bool bHadValue_ = false;
};

inline std::string readFile(const std::string& zPath) {
  std::ifstream in(zPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::string& zPath, const std::string& zText) {
  std::ofstream out(zPath, std::ios::binary);
  out << zText;
}

// Every file below zDir by relative path, with a fingerprint of its contents
// (size and an FNV-1a hash; "<dir>" for a directory).
inline std::map<std::string, std::string> snapshot(const std::string& zDir) {
  std::map<std::string, std::string> a;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(zDir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::string zRel = fs::relative(it->path(), zDir).string();
    if (it->is_directory()) {
      a[zRel] = "<dir>";
      continue;
    }
    std::string zData = readFile(it->path().string());
    unsigned long long h = 14695981039346656037ull;
    for (unsigned char c : zData) h = (h ^ c) * 1099511628211ull;
    a[zRel] = std::to_string(zData.size()) + " bytes, hash " + std::to_string(h);
  }
  return a;
}

// The names whose presence or fingerprint differ between two snapshots.
inline std::string snapshotChanges(const std::map<std::string, std::string>& aBefore,
                                   const std::map<std::string, std::string>& aAfter) {
  std::string z;
  for (const auto& [zName, zPrint] : aAfter) {
    auto it = aBefore.find(zName);
    if (it == aBefore.end()) {
      z += "created " + zName + "; ";
    } else if (it->second != zPrint) {
      z += "changed " + zName + "; ";
    }
  }
  for (const auto& entry : aBefore) {
    if (aAfter.count(entry.first) == 0) z += "removed " + entry.first + "; ";
  }
  return z;
}

struct Result {
  bool bExited = false;  // ended by exit, not by a signal or the time limit
  int iStatus = -1;
  std::string zOut;
  std::string zErr;
};

// Runs sqlsh with azArgs in zCwd; zEnv entries are "NAME=VALUE".  The input
// and the captured output live in zScratch, outside zCwd.
inline Result runShell(const std::vector<std::string>& azArgs, const std::string& zStdin,
                       const std::string& zCwd, const std::string& zScratch,
                       const std::vector<std::string>& azEnv = {}) {
  Result r;
  const std::string zExe = shellPath();
  const std::string zIn = zScratch + "/stdin.txt";
  const std::string zOutFile = zScratch + "/stdout.txt";
  const std::string zErrFile = zScratch + "/stderr.txt";
  writeFile(zIn, zStdin);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(zCwd.c_str()) != 0) _exit(127);
    if (!freopen(zIn.c_str(), "rb", stdin) || !freopen(zOutFile.c_str(), "wb", stdout) ||
        !freopen(zErrFile.c_str(), "wb", stderr)) {
      _exit(127);
    }
    setenv("HOME", zScratch.c_str(), 1);
    for (const std::string& z : azEnv) putenv(const_cast<char*>(z.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("sqlsh"));
    for (const std::string& z : azArgs) argv.push_back(const_cast<char*>(z.c_str()));
    argv.push_back(nullptr);
    execv(zExe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > tEnd) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r.bExited = WIFEXITED(status);
  r.iStatus = r.bExited ? WEXITSTATUS(status) : -1;
  r.zOut = readFile(zOutFile);
  r.zErr = readFile(zErrFile);
  return r;
}

}  // namespace shell_process
