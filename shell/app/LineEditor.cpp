// libedit at the prompt.  Lines are read through the callback interface so
// that the wait for a key is a select() that a Ctrl-C interrupts: the line
// being typed is then thrown away and the input loop starts a fresh prompt.
// The keys themselves are read here too, so that the end of the terminal is
// seen once and ends the session.  Each accepted entry goes to the history
// file at once.
#include "shell/app/LineEditor.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "shell/app/EditLibrary.h"
#include "shell/app/Startup.h"
#include "shell/app/TabCompletion.h"
#include "shell/core/ExternalEditor.h"
#include "shell/core/InputRecall.h"
#include "shell/core/Output.h"
#include "shell/core/Platform.h"
#include "shell/core/ShellContext.h"

namespace {

// libedit, once the keyboard has needed it.
const EditLibrary* lib = nullptr;

struct EditorState {
  ShellContext* p = nullptr;
  bool bActive = false;
  bool bInputEnded = false;  // the terminal reported its end or an error
  std::string zHistoryFile;
  std::string zPending;
  std::string zLast;  // the entry added last, not added twice in a row
  bool bDone = false;
  char* zDone = nullptr;
  // Bytes read from the terminal before libedit asked for them (a key the
  // shell looked at first); readKey hands them over before reading more.
  std::string zAhead;
  std::string zLastQuery;  // the text of the last history search
  // libedit brings rl_line_buffer and rl_point up to date only as it reads
  // a key; until then (a fresh prompt, a line put back) they are these.
  bool bLineKnown = false;
  std::string zLineNow;
  size_t iPointNow = 0;
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
  *lib->rl_attempted_completion_over = 1;
  if (editor.p == nullptr || *lib->rl_line_buffer == nullptr) return nullptr;
  const size_t iCursor = static_cast<size_t>(*lib->rl_point);
  std::string_view zLine(*lib->rl_line_buffer, iCursor);
  CompletionSource source;
  source.db = editor.p->db;
  source.p = editor.p;
  source.nOpened = editor.p->nDatabasesOpened;
  TabCandidates found =
      tabCandidates(source, editor.zPending, std::string_view(*lib->rl_line_buffer), iCursor);
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
  *lib->rl_completion_append_character = 0;
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
    ssize_t nRead = 0;
    if (!editor.zAhead.empty()) {
      aByte[nByte] = editor.zAhead[0];
      editor.zAhead.erase(0, 1);
      nRead = 1;
    } else {
      nRead = read(STDIN_FILENO, aByte + nByte, 1);
    }
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
  if (!writeFully(temp.fd, zText) || std::rename(zTemp.c_str(), zFile.c_str()) != 0) {
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
  const bool bMade = lib->append_history(1, zTemp.c_str()) == 0 && readAll(temp.fd, &zText);
  unlink(zTemp.c_str());
  if (!bMade || zText.empty() || zText.back() != '\n') return {};
  zText.pop_back();
  const size_t iStart = zText.rfind('\n');
  std::string zLine = iStart == std::string::npos ? zText : zText.substr(iStart + 1);
  if (zLine == zHistoryCookie) return {};
  return zLine;
}

// ---------------------------------------------------------------------------
// Keys the shell handles before libedit: Ctrl-R (a search of the history
// whose Enter runs the entry found) and Ctrl-X Ctrl-E (the text in an editor).

constexpr unsigned char keyCtrlE = 0x05;
constexpr unsigned char keyCtrlG = 0x07;
constexpr unsigned char keyCtrlH = 0x08;
constexpr unsigned char keyCtrlR = 0x12;
constexpr unsigned char keyCtrlS = 0x13;
constexpr unsigned char keyCtrlX = 0x18;
constexpr unsigned char keyEscape = 0x1b;
constexpr unsigned char keyDelete = 0x7f;

// How a wait for a byte of the terminal ended.
enum class ByteWait {
  Byte,     // *pc holds the byte
  Signal,   // Ctrl-C or a signal to end came: the caller's loop looks at it
  Timeout,  // nothing came within the time given
  End,      // the terminal reported its end or an error
};

// Waits for one byte of the terminal, letting the watched signals in only
// during the wait (mWaiting); nTimeoutMs < 0 waits as long as it takes.
ByteWait waitForByte(const sigset_t* pmWaiting, int nTimeoutMs, unsigned char* pc) {
  while (true) {
    if (editor.bInputEnded) return ByteWait::End;
    if (nInterrupts != 0 || terminationSignal() != 0) return ByteWait::Signal;
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(STDIN_FILENO, &fds);
    struct timespec ts {};
    ts.tv_sec = nTimeoutMs / 1000;
    ts.tv_nsec = static_cast<long>(nTimeoutMs % 1000) * 1000000L;
    const int rc = pselect(STDIN_FILENO + 1, &fds, nullptr, nullptr, nTimeoutMs < 0 ? nullptr : &ts,
                           pmWaiting);
    if (rc < 0) {
      if (errno != EINTR) {
        editor.bInputEnded = true;
        return ByteWait::End;
      }
      if (bWindowChanged) {
        bWindowChanged = 0;
        lib->rl_resize_terminal();
      }
      continue;
    }
    if (rc == 0) return ByteWait::Timeout;
    const ssize_t n = read(STDIN_FILENO, pc, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      editor.bInputEnded = true;
      return ByteWait::End;
    }
    return ByteWait::Byte;
  }
}

int windowColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The row, counted from the prompt's, at which libedit leaves the cursor
// after showing zPrompt and then zText: a line end begins a row, a control
// character shows as two columns ("^A"), others by their width, and a row
// that fills the window moves the cursor to the next one.
size_t cursorRow(std::string_view zPrompt, std::string_view zText) {
  const size_t nCols = static_cast<size_t>(windowColumns());
  size_t nRow = 0;
  size_t nCol = 0;
  for (std::string_view z : {zPrompt, zText}) {
    std::mbstate_t state{};
    size_t i = 0;
    while (i < z.size()) {
      wchar_t wc = 0;
      const size_t n = std::mbrtowc(&wc, z.data() + i, z.size() - i, &state);
      size_t nWidth = 1;
      if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
        state = std::mbstate_t{};
        i++;
      } else {
        i += n == 0 ? 1 : n;
        if (wc == L'\n') {
          nRow++;
          nCol = 0;
          continue;
        }
        const int w = wcwidth(wc);
        nWidth = wc < 0x20 || wc == 0x7f ? 2 : w < 0 ? 1 : static_cast<size_t>(w);
      }
      if (nCol + nWidth > nCols) {
        nRow++;
        nCol = 0;
      }
      nCol += nWidth;
      if (nCol >= nCols) {
        nRow++;
        nCol = 0;
      }
    }
  }
  return nRow;
}

// The line being edited, as libedit holds it.
std::string editedLine() {
  if (!editor.bLineKnown) return editor.zLineNow;
  if (*lib->rl_line_buffer == nullptr || *lib->rl_end <= 0) return {};
  return std::string(*lib->rl_line_buffer, static_cast<size_t>(*lib->rl_end));
}

// The cursor's place in editedLine().
size_t editedPoint() {
  if (!editor.bLineKnown) return editor.iPointNow;
  return std::min<size_t>(static_cast<size_t>(std::max(*lib->rl_point, 0)), editedLine().size());
}

// The line libedit holds, the cursor at its end, until it reads a key.
void lineIsNow(std::string zLine) {
  editor.bLineKnown = false;
  editor.iPointNow = zLine.size();
  editor.zLineNow = std::move(zLine);
}

void writeTerminal(std::string_view z) {
  std::fwrite(z.data(), 1, z.size(), stdout);
  std::fflush(stdout);
}

// Clears what libedit shows (the prompt and the line, the cursor nRowsBelow
// rows below the prompt's first), leaving the cursor where the prompt began:
// libedit then draws everything afresh from there.
void eraseEditingArea(size_t nRowsBelow) {
  std::string z;
  if (nRowsBelow > 0) z += "\x1b[" + std::to_string(nRowsBelow) + "A";
  z += "\r\x1b[J";
  writeTerminal(z);
}

// The row of libedit's cursor, as eraseEditingArea takes it, for the line
// being edited under zPrompt.
size_t editedCursorRow(const char* zPrompt) {
  return cursorRow(zPrompt, std::string_view(editedLine()).substr(0, editedPoint()));
}

// One character of a text as the search shows it: where its bytes begin in
// the text, how many there are, and the columns it takes (a line end or
// another control character shows as one blank).
struct ShownChar {
  size_t iByte;
  size_t nBytes;
  size_t nWidth;
};

std::vector<ShownChar> shownChars(std::string_view z) {
  std::vector<ShownChar> aChar;
  std::mbstate_t state{};
  size_t i = 0;
  while (i < z.size()) {
    wchar_t wc = 0;
    const size_t n = std::mbrtowc(&wc, z.data() + i, z.size() - i, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      state = std::mbstate_t{};
      aChar.push_back({i, 1, 1});
      i++;
      continue;
    }
    const size_t nBytes = n == 0 ? 1 : n;
    const int w = wc < 0x20 || wc == 0x7f ? 1 : wcwidth(wc);
    aChar.push_back({i, nBytes, w < 0 ? 1 : static_cast<size_t>(w)});
    i += nBytes;
  }
  return aChar;
}

// Appends to *pzOut the characters aChar[iFrom..] of z that fit in nCols
// columns; returns the columns used.
size_t appendShown(std::string* pzOut, std::string_view z, const std::vector<ShownChar>& aChar,
                   size_t iFrom, size_t nCols) {
  size_t nUsed = 0;
  for (size_t i = iFrom; i < aChar.size(); i++) {
    const ShownChar& c = aChar[i];
    if (nUsed + c.nWidth > nCols) break;
    const auto cFirst = static_cast<unsigned char>(z[c.iByte]);
    if (c.nBytes == 1 && (cFirst < 0x20 || cFirst == 0x7f)) {
      *pzOut += ' ';
    } else {
      pzOut->append(z.substr(c.iByte, c.nBytes));
    }
    nUsed += c.nWidth;
  }
  return nUsed;
}

// The search as one row of the window: zLabel, then zEntry, its line ends
// and other control characters as blanks, cut to the window.  An entry too
// long to show whole shows the part around the text found (at byte iFound,
// nFound bytes), after "...".
std::string searchRow(std::string_view zLabel, std::string_view zEntry, size_t iFound,
                      size_t nFound) {
  const size_t nCols = static_cast<size_t>(windowColumns()) - 1;
  std::string zRow;
  const size_t nLabel = appendShown(&zRow, zLabel, shownChars(zLabel), 0, nCols);
  if (nLabel >= nCols) return zRow;
  const size_t nRoom = nCols - nLabel;
  const std::vector<ShownChar> aChar = shownChars(zEntry);
  // The columns up to the end of the text found, and those of the text.
  size_t nUpToFound = 0;
  size_t nFoundCols = 0;
  for (size_t i = 0; i < aChar.size() && aChar[i].iByte < iFound + nFound; i++) {
    nUpToFound += aChar[i].nWidth;
    if (aChar[i].iByte >= iFound) nFoundCols += aChar[i].nWidth;
  }
  if (nUpToFound > nRoom && nRoom > 3) {
    // Characters go from the start until the text found fits after "...",
    // a few columns after it kept for what follows.
    const size_t nShown = nRoom - 3;
    const size_t nSpare = nFoundCols < nShown ? std::min<size_t>(8, (nShown - nFoundCols) / 2) : 0;
    size_t iStart = 0;
    size_t nDropped = 0;
    while (iStart < aChar.size() && nUpToFound - nDropped + nSpare > nShown &&
           aChar[iStart].iByte < iFound) {
      nDropped += aChar[iStart++].nWidth;
    }
    zRow += "...";
    appendShown(&zRow, zEntry, aChar, iStart, nShown);
    return zRow;
  }
  appendShown(&zRow, zEntry, aChar, 0, nRoom);
  return zRow;
}

// libedit's keys (emacs bindings) that move to the line's start and clear
// it, and that move to its end.
constexpr std::string_view clearLineKeys = "\x01\x0b";
constexpr std::string_view lineEndKey = "\x05";

// Prints zMessage on a line of its own where the prompt and its line were,
// which are then shown again under it.
void sayAboveTheLine(const char* zPrompt, const std::string& zMessage) {
  eraseEditingArea(editedCursorRow(zPrompt));
  printConsole(stderr, "%s\r\n", zMessage.c_str());
  std::fflush(stderr);
  lib->rl_forced_update_display();
  std::fflush(stdout);
}

// The history's entries, oldest first.
std::vector<std::string> historyEntries() {
  std::vector<std::string> azEntry;
  for (int i = 0; i < *lib->history_length; i++) {
    const HIST_ENTRY* pEntry = lib->history_get(*lib->history_base + i);
    if (pEntry != nullptr && pEntry->line != nullptr) azEntry.emplace_back(pEntry->line);
  }
  return azEntry;
}

// Where zEntry holds zQuery, ASCII letters in either case, searched from
// its end (the text nearest the end is shown); npos when it does not.
size_t foundAt(std::string_view zEntry, std::string_view zQuery) {
  if (zQuery.empty()) return zEntry.size();
  if (zEntry.size() < zQuery.size()) return std::string_view::npos;
  for (size_t i = zEntry.size() - zQuery.size() + 1; i-- > 0;) {
    if (sqlite3_strnicmp(zEntry.data() + i, zQuery.data(), static_cast<int>(zQuery.size())) == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

// The bytes of one key that begins with ESC: alone (nothing follows at
// once), a CSI or SS3 sequence (arrows, Home, End...), or ESC and one key.
std::string escapeKey(const sigset_t* pmWaiting) {
  std::string zKey(1, static_cast<char>(keyEscape));
  unsigned char c = 0;
  if (waitForByte(pmWaiting, 30, &c) != ByteWait::Byte) return zKey;
  zKey += static_cast<char>(c);
  if (c != '[' && c != 'O') return zKey;
  // Parameters and intermediates, then one final byte.
  while (waitForByte(pmWaiting, 30, &c) == ByteWait::Byte) {
    zKey += static_cast<char>(c);
    if (c >= 0x40 && c <= 0x7e && !(zKey.size() == 3 && c == '[')) break;
  }
  return zKey;
}

// How a search of the history ended.
enum class SearchEnd {
  Run,   // Enter: the entry shown is accepted as the line
  Edit,  // the entry is on the line to be edited (a key may follow for libedit)
  Stop,  // Ctrl-G: the line as it was before the search; or Ctrl-C, the end
};

// Ctrl-R: searches the history from the newest entry back for the text
// typed, showing "(reverse-i-search)`text': entry".  Ctrl-R again finds an
// older entry, Ctrl-S a newer one, Backspace shortens the text.  Enter
// accepts the entry shown and runs it; Escape, or a key that moves or
// edits, leaves it on the line to be edited (that key then acts on it);
// Ctrl-G puts back the line as it was; Ctrl-C throws the line away as at
// the prompt.
SearchEnd searchHistory(const char* zPrompt, const sigset_t* pmWaiting) {
  // Ctrl-S reaches the search rather than stopping the terminal's output.
  struct FlowControlOff {
    termios saved{};
    bool bChanged = false;
    FlowControlOff() {
      if (tcgetattr(STDIN_FILENO, &saved) != 0 || (saved.c_iflag & IXON) == 0) return;
      termios now = saved;
      now.c_iflag &= ~static_cast<tcflag_t>(IXON);
      bChanged = tcsetattr(STDIN_FILENO, TCSANOW, &now) == 0;
    }
    FlowControlOff(const FlowControlOff&) = delete;
    FlowControlOff& operator=(const FlowControlOff&) = delete;
    ~FlowControlOff() {
      if (bChanged) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
  } flowControlOff;
  const std::vector<std::string> azEntry = historyEntries();
  const std::string zOriginal = editedLine();
  std::string zQuery;
  int iMatch = -1;  // the entry shown, or -1 for the original line
  bool bFailed = false;
  // The search takes one row of its own, drawn here; libedit's display is
  // cleared now and drawn afresh at the end.
  eraseEditingArea(editedCursorRow(zPrompt));
  auto show = [&]() {
    std::string zLabel = bFailed ? "(failed reverse-i-search)`" : "(reverse-i-search)`";
    zLabel += zQuery + "': ";
    const std::string& zLine = iMatch >= 0 ? azEntry[static_cast<size_t>(iMatch)] : zOriginal;
    size_t iFound = iMatch >= 0 ? foundAt(zLine, zQuery) : std::string::npos;
    if (iFound == std::string::npos) iFound = 0;
    writeTerminal("\r\x1b[J" + searchRow(zLabel, zLine, iFound, zQuery.size()));
  };
  // Looks from entry iFrom towards older (iStep -1) or newer (+1) entries
  // for one that holds the text and differs from the entry shown.
  auto find = [&](int iFrom, int iStep) {
    const std::string* pzShown = iMatch >= 0 ? &azEntry[static_cast<size_t>(iMatch)] : nullptr;
    for (int i = iFrom; i >= 0 && i < static_cast<int>(azEntry.size()); i += iStep) {
      const std::string& z = azEntry[static_cast<size_t>(i)];
      if (i != iMatch && pzShown != nullptr && z == *pzShown) continue;
      if (foundAt(z, zQuery) != std::string_view::npos) {
        iMatch = i;
        bFailed = false;
        return;
      }
    }
    bFailed = true;
  };
  const int iNewest = static_cast<int>(azEntry.size()) - 1;
  // Back to the prompt with zLine, the cursor at its end: keys for libedit
  // do the rest, and the key that ended the search follows them.
  auto finish = [&](SearchEnd eEnd, const std::string& zLine) {
    writeTerminal("\r\x1b[J");
    // libedit takes no empty line here: an empty one is a blank, cleared
    // by the keys that follow.
    lib->rl_replace_line(zLine.empty() ? " " : zLine.c_str(), 0);
    lib->rl_forced_update_display();
    std::fflush(stdout);
    std::string zKeys(zLine.empty() ? clearLineKeys : lineEndKey);
    editor.zAhead = zKeys + editor.zAhead;
    if (!zQuery.empty()) editor.zLastQuery = zQuery;
    return eEnd;
  };
  auto shown = [&]() -> const std::string& {
    return iMatch >= 0 ? azEntry[static_cast<size_t>(iMatch)] : zOriginal;
  };
  show();
  while (true) {
    unsigned char c = 0;
    const ByteWait eWait = waitForByte(pmWaiting, -1, &c);
    if (eWait != ByteWait::Byte) return finish(SearchEnd::Stop, zOriginal);
    if (c == '\r' || c == '\n') return finish(SearchEnd::Run, shown());
    if (c == keyCtrlG) return finish(SearchEnd::Stop, zOriginal);
    if (c == keyCtrlR || c == keyCtrlS) {
      if (zQuery.empty() && !editor.zLastQuery.empty()) {
        zQuery = editor.zLastQuery;
        find(iNewest, -1);
      } else if (c == keyCtrlR) {
        find(iMatch >= 0 ? iMatch - 1 : iNewest, -1);
      } else if (iMatch >= 0) {
        find(iMatch + 1, 1);
      }
      show();
      continue;
    }
    if (c == keyDelete || c == keyCtrlH) {
      if (zQuery.empty()) continue;
      // One character less: the search starts again from the newest entry.
      size_t n = zQuery.size() - 1;
      while (n > 0 && (static_cast<unsigned char>(zQuery[n]) & 0xc0) == 0x80) n--;
      zQuery.erase(n);
      iMatch = -1;
      if (zQuery.empty()) {
        bFailed = false;
      } else {
        find(iNewest, -1);
      }
      show();
      continue;
    }
    if (c == keyEscape) {
      const std::string zKey = escapeKey(pmWaiting);
      const SearchEnd eEnd = finish(SearchEnd::Edit, shown());
      // A key sequence (an arrow, Home...) acts on the line; Escape alone
      // only ends the search.
      if (zKey.size() > 1) editor.zAhead += zKey;
      return eEnd;
    }
    if (c < 0x20) {
      const SearchEnd eEnd = finish(SearchEnd::Edit, shown());
      editor.zAhead += static_cast<char>(c);
      return eEnd;
    }
    // A character of the text: its remaining bytes, then a search that may
    // keep the entry shown.
    std::string zChar(1, static_cast<char>(c));
    const int nMore = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
    for (int i = 0; i < nMore; i++) {
      unsigned char cNext = 0;
      if (waitForByte(pmWaiting, 100, &cNext) != ByteWait::Byte) break;
      zChar += static_cast<char>(cNext);
    }
    zQuery += zChar;
    const int iMatchBefore = iMatch;
    iMatch = -1;
    find(iMatchBefore >= 0 ? iMatchBefore : iNewest, -1);
    if (bFailed) iMatch = iMatchBefore;
    show();
  }
}

// The text Ctrl-X Ctrl-E opens: the lines of the statement begun so far and
// the line being typed; on an empty line with nothing begun, the newest
// entry of the history, else the last SQL run.
std::string textToEdit() {
  std::string zText = editor.zPending;
  const std::string zLine = editedLine();
  if (!zText.empty()) {
    zText += '\n';
    zText += zLine;
  } else {
    zText = zLine;
  }
  if (zText.find_first_not_of(" \t") != std::string::npos) return zText;
  if (*lib->history_length > 0) {
    const HIST_ENTRY* pEntry = lib->history_get(*lib->history_base + *lib->history_length - 1);
    if (pEntry != nullptr && pEntry->line != nullptr && pEntry->line[0] != 0) return pEntry->line;
  }
  return lastStatement();
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
    if (zText.empty()) return writeFully(file.fd, zHead + zAdded);
    // Anything but whole lines after the file's first line is mended by
    // writing the file afresh, as is an entry over the limit.
    const bool bWhole = zText.compare(0, zHead.size(), zHead) == 0 && zText.back() == '\n';
    const auto nEntries = std::count(zText.begin(), zText.end(), '\n') - 1;
    if (bWhole && nEntries < nMax) return writeFully(file.fd, zAdded);
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
  if (lib == nullptr) lib = editLibrary();
  if (zFile.empty() || lib == nullptr) return false;
  const std::string zLine = encodeNewestEntry(zFile);
  return !zLine.empty() && appendHistoryLine(zFile, zLine, nMax);
}

void lineEditorOpen(ShellContext* p) {
  if (editor.bActive) return;
  // Without the library the keyboard gets plain lines.
  if (lib == nullptr) lib = editLibrary();
  if (lib == nullptr) return;
  editor.p = p;
  editor.bActive = true;
  editor.bInputEnded = false;
  // libedit reads multi-byte characters only under a multi-byte character
  // type; without one it drops every byte above 127.  The shell takes what
  // the terminal sends as UTF-8.
  std::setlocale(LC_CTYPE, "");
  if (MB_CUR_MAX == 1) std::setlocale(LC_CTYPE, "C.UTF-8");
  *lib->rl_readline_name = "sqlsh";
  *lib->rl_catch_signals = 0;
  *lib->rl_instream = stdin;
  *lib->rl_outstream = stdout;
  *lib->rl_getc_function = readKey;
  lib->rl_initialize();
  *lib->rl_attempted_completion_function = completeAtCursor;
  *lib->rl_basic_word_break_characters = zWordBreaks;
  *lib->rl_completer_word_break_characters = zWordBreaks;
  struct sigaction action {};
  action.sa_handler = onWindowChange;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
  lib->using_history();
  lib->stifle_history(nHistoryMax);
  editor.zHistoryFile = historyFileName(homeDirectory(false));
  if (!editor.zHistoryFile.empty()) lib->read_history(editor.zHistoryFile.c_str());
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
  lib->rl_callback_handler_install(zPrompt, onLineDone);
  lineIsNow("");
  bool bInterrupted = false;
  bool bEdited = false;
  std::string zEdited;
  editor.zAhead.clear();
  while (!editor.bDone) {
    // The terminal gone, or a signal to end: the session ends as at Ctrl-D.
    if (editor.bInputEnded || terminationSignal() != 0) break;
    if (nInterrupts != 0) {
      bInterrupted = true;
      break;
    }
    if (editor.zAhead.empty()) {
      unsigned char c = 0;
      const ByteWait eWait = waitForByte(&mWaiting, -1, &c);
      if (eWait == ByteWait::End) break;
      if (eWait != ByteWait::Byte) continue;
      editor.zAhead += static_cast<char>(c);
    }
    const auto cKey = static_cast<unsigned char>(editor.zAhead[0]);
    if (cKey == keyCtrlR) {
      editor.zAhead.erase(0, 1);
      // Enter during the search runs the entry: libedit accepts the line.
      if (searchHistory(zPrompt, &mWaiting) == SearchEnd::Run) editor.zAhead += '\r';
      continue;
    }
    if (cKey == keyCtrlX) {
      if (editor.zAhead.size() < 2) {
        unsigned char c = 0;
        const ByteWait eWait = waitForByte(&mWaiting, -1, &c);
        if (eWait == ByteWait::End) break;
        if (eWait != ByteWait::Byte) continue;
        editor.zAhead += static_cast<char>(c);
      }
      if (static_cast<unsigned char>(editor.zAhead[1]) == keyCtrlE) {
        editor.zAhead.erase(0, 2);
        const std::string zText = textToEdit();
        if (editor.p != nullptr && editor.p->bSafeActive) {
          // Refused as safe mode refuses .edit, but the session and the
          // line being typed are kept.
          sayAboveTheLine(zPrompt, "line " + std::to_string(editor.p->iLineNo + 1) +
                                       ": cannot run the editor in safe mode");
          continue;
        }
        if (zText.empty()) {
          sayAboveTheLine(zPrompt, "Nothing to edit");
          continue;
        }
        // The editor gets the terminal in its ordinary mode, and the
        // signals as they are outside the wait.
        const std::string zLine = editedLine();
        eraseEditingArea(editedCursorRow(zPrompt));
        lib->rl_callback_handler_remove();
        sigprocmask(SIG_SETMASK, &mSaved, nullptr);
        EditedText edited = editInExternalEditor(zText);
        sigprocmask(SIG_BLOCK, &mWatched, nullptr);
        if (edited.bChanged) {
          bEdited = true;
          zEdited = std::move(edited.zText);
          break;
        }
        printConsole(stderr, "Nothing changed: %s\n", edited.zWhy.c_str());
        std::fflush(stderr);
        lib->rl_callback_handler_install(zPrompt, onLineDone);
        lineIsNow(zLine);
        if (!zLine.empty()) {
          lib->rl_insert_text(zLine.c_str());
          writeTerminal("\r");
          lib->rl_forced_update_display();
          std::fflush(stdout);
        }
        continue;
      }
    }
    lib->rl_callback_read_char();
    editor.bLineKnown = true;
  }
  sigprocmask(SIG_SETMASK, &mSaved, nullptr);
  editor.zAhead.clear();
  if (bEdited) {
    *pzLine = copyText(zEdited);
    if (*pzLine == nullptr) exitOutOfMemory();
    return EditorRead::Edited;
  }
  if (bInterrupted) {
    // Ctrl-C at the prompt: forget the line and start a fresh one.
    nInterrupts = 0;
    lib->rl_replace_line("", 0);
    lib->rl_callback_handler_remove();
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return EditorRead::Interrupted;
  }
  // Back to the terminal's ordinary mode while the line runs.
  lib->rl_callback_handler_remove();
  if (!editor.bDone || editor.zDone == nullptr) return EditorRead::End;
  *pzLine = editor.zDone;
  return EditorRead::Line;
}

void lineEditorRemember(const char* zEntry) {
  if (!editor.bActive || zEntry == nullptr || zEntry[0] == 0) return;
  if (editor.zLast == zEntry) return;
  editor.zLast = zEntry;
  lib->add_history(zEntry);
  // Saved as it is accepted: a terminal that goes away loses nothing.
  const bool bSafe = editor.p != nullptr && editor.p->bSafePersistent != 0;
  if (!bSafe) appendHistoryEntry(editor.zHistoryFile);
}

void lineEditorClose() {
  if (!editor.bActive) return;
  editor.bActive = false;
  editor.p = nullptr;
}
