// libedit at the prompt.  Lines are read through the callback interface so
// that the wait for a key is a select() that a Ctrl-C interrupts: the line
// being typed is then thrown away and the input loop starts a fresh prompt.
// The keys themselves are read here too, so that the end of the terminal is
// seen once and ends the session.  Each accepted entry goes to the history
// file at once.
#include "shell/app/LineEditor.h"

#include <editline/readline.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "shell/app/Startup.h"
#include "shell/app/TabCompletion.h"
#include "shell/core/Platform.h"
#include "shell/core/ShellContext.h"

namespace {

struct EditorState {
  ShellContext* p = nullptr;
  bool bActive = false;
  bool bInputEnded = false;  // the terminal reported its end or an error
  std::string zHistoryFile;
  std::string zPending;
  std::string zLast;  // the entry added last, not added twice in a row
  bool bDone = false;
  char* zDone = nullptr;
};

EditorState editor;

// Set when the terminal's window changed size; libedit is told at the next wait.
volatile sig_atomic_t bWindowChanged = 0;

void onWindowChange(int) {
  bWindowChanged = 1;
}

// Every byte that is not part of an SQL word ends a word for libedit; the
// candidates are adjusted to where libedit's word starts in any case.
char zWordBreaks[] = " \t\n\"\\'`@$><=;|&{(,.[]+-*/%!:?)}~#^";

void onLineDone(char* zLine) {
  editor.zDone = zLine;
  editor.bDone = true;
}

char* copyText(std::string_view z) {
  char* zCopy = static_cast<char*>(std::malloc(z.size() + 1));
  if (zCopy == nullptr) return nullptr;
  std::memcpy(zCopy, z.data(), z.size());
  zCopy[z.size()] = 0;
  return zCopy;
}

// The longest common prefix of the words.
size_t commonPrefixLength(const std::vector<std::string>& aWords) {
  size_t n = aWords[0].size();
  for (const std::string& z : aWords) {
    size_t i = 0;
    while (i < n && i < z.size() && z[i] == aWords[0][i]) i++;
    n = i;
  }
  return n;
}

// libedit's completion entry: text is the word libedit will replace, which
// ends at the cursor.  Returns the replacement followed by the candidates.
char** completeAtCursor(const char* text, int, int) {
  rl_attempted_completion_over = 1;
  if (editor.p == nullptr || rl_line_buffer == nullptr) return nullptr;
  const size_t iCursor = static_cast<size_t>(rl_point);
  std::string_view zLine(rl_line_buffer, iCursor);
  TabCandidates found = tabCandidates(editor.p->db, editor.zPending, zLine);
  if (found.aWords.empty()) return nullptr;
  // Where libedit's word starts relative to ours: drop or add the bytes between.
  const size_t nText = std::strlen(text);
  const size_t iLibStart = iCursor >= nText ? iCursor - nText : 0;
  for (std::string& z : found.aWords) {
    if (iLibStart > found.iWordStart) {
      z.erase(0, std::min(z.size(), iLibStart - found.iWordStart));
    } else if (iLibStart < found.iWordStart) {
      z.insert(0, zLine.substr(iLibStart, found.iWordStart - iLibStart));
    }
  }
  const size_t nWords = found.aWords.size();
  std::vector<char*> azMatch;
  azMatch.reserve(nWords + 2);
  if (nWords == 1) {
    // A single word is followed by a blank, except a directory, which goes on.
    std::string zOnly = found.aWords[0];
    if (!(found.bFileNames && !zOnly.empty() && zOnly.back() == '/')) zOnly += ' ';
    azMatch.push_back(copyText(zOnly));
  } else {
    // The common beginning replaces the word, unless it would shorten it
    // (words that differ from the typed one in case or in quotes).
    const std::string_view zCommon =
        std::string_view(found.aWords[0]).substr(0, commonPrefixLength(found.aWords));
    const bool bExtends = zCommon.size() >= nText &&
                          sqlite3_strnicmp(zCommon.data(), text, static_cast<int>(nText)) == 0;
    azMatch.push_back(copyText(bExtends ? zCommon : std::string_view(text)));
    for (const std::string& z : found.aWords) azMatch.push_back(copyText(z));
  }
  azMatch.push_back(nullptr);
  for (size_t i = 0; i + 1 < azMatch.size(); i++) {
    if (azMatch[i] == nullptr) exitOutOfMemory();
  }
  rl_completion_append_character = 0;
  auto** azResult = static_cast<char**>(std::malloc(azMatch.size() * sizeof(char*)));
  if (azResult == nullptr) exitOutOfMemory();
  std::memcpy(azResult, azMatch.data(), azMatch.size() * sizeof(char*));
  return azResult;
}

void closeAtExit() {
  lineEditorClose();
}

// libedit's reader of keys: one character of the terminal's multi-byte
// encoding, decoded as libedit's own reader does (an invalid sequence is
// dropped), or EOF once the terminal reports its end or an error.  libedit
// alone would report that end to the callback interface as nothing at all,
// and the wait would find the terminal readable again at once, for ever.
int readKey(FILE*) {
  char aByte[MB_LEN_MAX];
  size_t nByte = 0;
  while (true) {
    const ssize_t nRead = read(STDIN_FILENO, aByte + nByte, 1);
    if (nRead < 0 && errno == EINTR && terminationSignal() == 0) continue;
    if (nRead <= 0) {
      editor.bInputEnded = true;
      return EOF;
    }
    nByte++;
    while (nByte > 0) {
      std::mbstate_t state{};
      wchar_t wc = 0;
      const size_t nUsed = std::mbrtowc(&wc, aByte, nByte, &state);
      if (nUsed == static_cast<size_t>(-2) && nByte < sizeof aByte) break;  // read on
      if (nUsed != static_cast<size_t>(-1) && nUsed != static_cast<size_t>(-2)) {
        return static_cast<int>(wc);
      }
      // Not a character: all but the last byte go, which may begin the next.
      if (nByte == 1) {
        nByte = 0;
      } else {
        aByte[0] = aByte[nByte - 1];
        nByte = 1;
      }
    }
  }
}

constexpr std::string_view zHistoryCookie = "_HiStOrY_V2_";

// A file descriptor that closes itself, releasing any lock on the file.
struct OwnedDescriptor {
  int fd = -1;
  explicit OwnedDescriptor(int fdOpened) : fd(fdOpened) {}
  OwnedDescriptor(OwnedDescriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
  OwnedDescriptor(const OwnedDescriptor&) = delete;
  OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
  ~OwnedDescriptor() {
    if (fd >= 0) close(fd);
  }
};

bool writeAll(int fd, std::string_view z) {
  while (!z.empty()) {
    const ssize_t n = write(fd, z.data(), z.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    z.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool readAll(int fd, std::string* pzText) {
  char aBuf[8192];
  off_t iAt = 0;
  while (true) {
    const ssize_t n = pread(fd, aBuf, sizeof aBuf, iAt);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    pzText->append(aBuf, static_cast<size_t>(n));
    iAt += n;
  }
}

// A fresh file beside zFile, readable by its owner only; its name is left
// in *pzName.
OwnedDescriptor makeTempBeside(const std::string& zFile, std::string* pzName) {
  std::string zTemplate = zFile + ".XXXXXX";
  std::vector<char> aName(zTemplate.begin(), zTemplate.end());
  aName.push_back(0);
  OwnedDescriptor temp(mkstemp(aName.data()));
  if (temp.fd >= 0) pzName->assign(aName.data());
  return temp;
}

// Replaces zFile by a fresh file of the given text.
bool replaceFile(const std::string& zFile, std::string_view zText) {
  std::string zTemp;
  OwnedDescriptor temp = makeTempBeside(zFile, &zTemp);
  if (temp.fd < 0) return false;
  if (!writeAll(temp.fd, zText) || std::rename(zTemp.c_str(), zFile.c_str()) != 0) {
    unlink(zTemp.c_str());
    return false;
  }
  return true;
}

// The newest entry of the history in the file's format, made by libedit's
// own writer (which writes the newest two entries when asked for one; the
// last line is the newest).  Empty when it cannot be made.
std::string encodeNewestEntry(const std::string& zBeside) {
  std::string zTemp;
  OwnedDescriptor temp = makeTempBeside(zBeside, &zTemp);
  if (temp.fd < 0) return {};
  std::string zText;
  const bool bMade = append_history(1, zTemp.c_str()) == 0 && readAll(temp.fd, &zText);
  unlink(zTemp.c_str());
  if (!bMade || zText.empty() || zText.back() != '\n') return {};
  zText.pop_back();
  const size_t iStart = zText.rfind('\n');
  std::string zLine = iStart == std::string::npos ? zText : zText.substr(iStart + 1);
  if (zLine == zHistoryCookie) return {};
  return zLine;
}

}  // namespace

bool lineEditingWanted() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
  const char* zTerm = std::getenv("TERM");
  return zTerm != nullptr && zTerm[0] != 0 && std::strcmp(zTerm, "dumb") != 0;
}

bool colourWanted() {
  const char* zNoColour = std::getenv("NO_COLOR");
  if (zNoColour != nullptr && zNoColour[0] != 0) return false;
  const char* zTerm = std::getenv("TERM");
  return zTerm == nullptr || std::strcmp(zTerm, "dumb") != 0;
}

std::string historyFileName(const char* zHome) {
  if (const char* zEnv = std::getenv("SQLSH_HISTORY"); zEnv != nullptr) return zEnv;
  if (zHome == nullptr || zHome[0] == 0) return {};
  std::string zFile(zHome);
  if (zFile.back() != '/') zFile += '/';
  return zFile + ".sqlsh_history";
}

bool appendHistoryLine(const std::string& zFile, std::string_view zLine, int nMax) {
  if (zFile.empty() || nMax <= 0 || zLine.empty() || zLine.find('\n') != std::string_view::npos) {
    return false;
  }
  // Another session may replace the file between the open and the lock: the
  // lock then holds the old file, and the new one is opened in turn.
  for (int nTries = 0; nTries < 100; nTries++) {
    OwnedDescriptor file(
        open(zFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
    if (file.fd < 0) return false;
    int rc = 0;
    while ((rc = flock(file.fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) return false;
    struct stat stOpened {};
    struct stat stNamed {};
    // Only a regular file holds a history (SQLSH_HISTORY=/dev/null keeps none).
    if (fstat(file.fd, &stOpened) != 0 || !S_ISREG(stOpened.st_mode)) return false;
    if (stat(zFile.c_str(), &stNamed) != 0 || stNamed.st_dev != stOpened.st_dev ||
        stNamed.st_ino != stOpened.st_ino) {
      continue;
    }
    std::string zText;
    if (!readAll(file.fd, &zText)) return false;
    const std::string zHead = std::string(zHistoryCookie) + "\n";
    std::string zAdded(zLine);
    zAdded += '\n';
    if ((stOpened.st_mode & 07777) != 0600) fchmod(file.fd, 0600);
    if (zText.empty()) return writeAll(file.fd, zHead + zAdded);
    // Anything but whole lines after the file's first line is mended by
    // writing the file afresh, as is an entry over the limit.
    const bool bWhole = zText.compare(0, zHead.size(), zHead) == 0 && zText.back() == '\n';
    const auto nEntries = std::count(zText.begin(), zText.end(), '\n') - 1;
    if (bWhole && nEntries < nMax) return writeAll(file.fd, zAdded);
    std::vector<std::string_view> aLines;
    if (zText.compare(0, zHead.size(), zHead) == 0) {
      std::string_view zRest = std::string_view(zText).substr(zHead.size());
      size_t iEnd = 0;
      while ((iEnd = zRest.find('\n')) != std::string_view::npos) {
        aLines.push_back(zRest.substr(0, iEnd));
        zRest.remove_prefix(iEnd + 1);
      }
    }
    const size_t nKept = std::min(aLines.size(), static_cast<size_t>(nMax - 1));
    std::string zNew = zHead;
    for (size_t i = aLines.size() - nKept; i < aLines.size(); i++) {
      zNew.append(aLines[i]);
      zNew += '\n';
    }
    zNew += zAdded;
    return replaceFile(zFile, zNew);
  }
  return false;
}

bool appendHistoryEntry(const std::string& zFile, int nMax) {
  if (zFile.empty()) return false;
  const std::string zLine = encodeNewestEntry(zFile);
  return !zLine.empty() && appendHistoryLine(zFile, zLine, nMax);
}

void lineEditorOpen(ShellContext* p) {
  if (editor.bActive) return;
  editor.p = p;
  editor.bActive = true;
  editor.bInputEnded = false;
  // libedit reads multi-byte characters only under a multi-byte character
  // type; without one it drops every byte above 127.  The shell takes what
  // the terminal sends as UTF-8.
  std::setlocale(LC_CTYPE, "");
  if (MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
  rl_readline_name = "sqlsh";
  rl_catch_signals = 0;
  rl_instream = stdin;
  rl_outstream = stdout;
  rl_getc_function = readKey;
  rl_initialize();
  rl_attempted_completion_function = completeAtCursor;
  rl_basic_word_break_characters = zWordBreaks;
  rl_completer_word_break_characters = zWordBreaks;
  struct sigaction action {};
  action.sa_handler = onWindowChange;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
  using_history();
  stifle_history(nHistoryMax);
  editor.zHistoryFile = historyFileName(homeDirectory(false));
  if (!editor.zHistoryFile.empty()) read_history(editor.zHistoryFile.c_str());
  static bool bAtExitSet = false;
  if (!bAtExitSet) std::atexit(closeAtExit);
  bAtExitSet = true;
}

bool lineEditorActive() {
  return editor.bActive;
}

EditorRead lineEditorRead(const char* zPrompt, std::string_view zPending, char** pzLine) {
  *pzLine = nullptr;
  editor.zPending.assign(zPending);
  editor.bDone = false;
  editor.zDone = nullptr;
  // A Ctrl-C left over from an interrupted statement is used up.
  nInterrupts = 0;
  std::fflush(stdout);
  // SIGINT, SIGHUP and SIGTERM are let through only while waiting for a key,
  // so that none can slip in between the test of its flag and the wait.
  sigset_t mWatched;
  sigset_t mSaved;
  sigemptyset(&mWatched);
  sigaddset(&mWatched, SIGINT);
  sigaddset(&mWatched, SIGHUP);
  sigaddset(&mWatched, SIGTERM);
  sigprocmask(SIG_BLOCK, &mWatched, &mSaved);
  sigset_t mWaiting = mSaved;
  sigdelset(&mWaiting, SIGINT);
  sigdelset(&mWaiting, SIGHUP);
  sigdelset(&mWaiting, SIGTERM);
  rl_callback_handler_install(zPrompt, onLineDone);
  bool bInterrupted = false;
  while (!editor.bDone) {
    // The terminal gone, or a signal to end: the session ends as at Ctrl-D.
    if (editor.bInputEnded || terminationSignal() != 0) break;
    if (nInterrupts != 0) {
      bInterrupted = true;
      break;
    }
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(STDIN_FILENO, &fds);
    int rc = pselect(STDIN_FILENO + 1, &fds, nullptr, nullptr, nullptr, &mWaiting);
    if (rc < 0) {
      if (errno != EINTR) break;
      if (bWindowChanged) {
        bWindowChanged = 0;
        rl_resize_terminal();
      }
      continue;
    }
    rl_callback_read_char();
  }
  sigprocmask(SIG_SETMASK, &mSaved, nullptr);
  if (bInterrupted) {
    // Ctrl-C at the prompt: forget the line and start a fresh one.
    nInterrupts = 0;
    rl_replace_line("", 0);
    rl_callback_handler_remove();
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return EditorRead::Interrupted;
  }
  // Back to the terminal's ordinary mode while the line runs.
  rl_callback_handler_remove();
  if (!editor.bDone || editor.zDone == nullptr) return EditorRead::End;
  *pzLine = editor.zDone;
  return EditorRead::Line;
}

void lineEditorRemember(const char* zEntry) {
  if (!editor.bActive || zEntry == nullptr || zEntry[0] == 0) return;
  if (editor.zLast == zEntry) return;
  editor.zLast = zEntry;
  add_history(zEntry);
  // Saved as it is accepted: a terminal that goes away loses nothing.
  const bool bSafe = editor.p != nullptr && editor.p->bSafePersistent != 0;
  if (!bSafe) appendHistoryEntry(editor.zHistoryFile);
}

void lineEditorClose() {
  if (!editor.bActive) return;
  editor.bActive = false;
  editor.p = nullptr;
}
