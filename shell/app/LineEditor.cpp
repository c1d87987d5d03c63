// libedit at the prompt.  Lines are read through the callback interface so
// that the wait for a key is a select() that a Ctrl-C interrupts: the line
// being typed is then thrown away and the input loop starts a fresh prompt.
#include "shell/app/LineEditor.h"

#include <editline/readline.h>
#include <errno.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shell/app/Startup.h"
#include "shell/app/TabCompletion.h"
#include "shell/core/ShellContext.h"

namespace {

struct EditorState {
  ShellContext* p = nullptr;
  bool bActive = false;
  bool bChanged = false;  // entries were added since the history was loaded
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

void saveAtExit() {
  lineEditorClose();
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

bool saveHistoryFile(const std::string& zFile) {
  if (zFile.empty()) return false;
  std::string zTemp = zFile + ".XXXXXX";
  std::vector<char> aTemp(zTemp.begin(), zTemp.end());
  aTemp.push_back(0);
  // mkstemp creates the file for its owner only; write_history keeps that.
  int fd = mkstemp(aTemp.data());
  if (fd < 0) return false;
  close(fd);
  if (write_history(aTemp.data()) != 0 || std::rename(aTemp.data(), zFile.c_str()) != 0) {
    unlink(aTemp.data());
    return false;
  }
  return true;
}

void lineEditorOpen(ShellContext* p) {
  if (editor.bActive) return;
  editor.p = p;
  editor.bActive = true;
  editor.bChanged = false;
  // libedit reads multi-byte characters only under a multi-byte character
  // type; without one it drops every byte above 127.  The shell takes what
  // the terminal sends as UTF-8.
  std::setlocale(LC_CTYPE, "");
  if (MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
  rl_readline_name = "sqlsh";
  rl_catch_signals = 0;
  rl_instream = stdin;
  rl_outstream = stdout;
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
  if (!bAtExitSet) std::atexit(saveAtExit);
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
  // SIGINT is let through only while waiting for a key, so that a Ctrl-C
  // cannot slip in between the test of the count and the wait.
  sigset_t mSigint;
  sigset_t mSaved;
  sigemptyset(&mSigint);
  sigaddset(&mSigint, SIGINT);
  sigprocmask(SIG_BLOCK, &mSigint, &mSaved);
  sigset_t mWaiting = mSaved;
  sigdelset(&mWaiting, SIGINT);
  rl_callback_handler_install(zPrompt, onLineDone);
  bool bInterrupted = false;
  while (!editor.bDone) {
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
  editor.bChanged = true;
}

void lineEditorClose() {
  if (!editor.bActive) return;
  editor.bActive = false;
  const bool bSafe = editor.p != nullptr && editor.p->bSafePersistent != 0;
  if (editor.bChanged && !bSafe) saveHistoryFile(editor.zHistoryFile);
  editor.p = nullptr;
}
