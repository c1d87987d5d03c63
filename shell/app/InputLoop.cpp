// The input loop: reads lines, tells dot-commands from SQL, gathers SQL until
// it forms complete statements, runs them and reports their errors.
#include "shell/app/InputLoop.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include <unistd.h>

#include "shell/app/LineEditor.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/InputRecall.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Pager.h"
#include "shell/core/Platform.h"
#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"
#include "shell/exec/Timer.h"

namespace {

constexpr int scanWaitMask = 0xff;

constexpr int maxInputDepth = 25;

// Nothing but white space, comments and semicolons so far, and not inside anything.
bool isPlainWhite(int state) {
  return (state & ~endsWithSemicolon) == 0;
}
// Not inside anything, and the last significant character was a semicolon.
bool isAtSemicolon(int state) {
  return (state & ~hasContent) == endsWithSemicolon;
}

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The hint for a line that is only a word other shells use to leave or to
// get help ("exit", "quit", "help", in any case, with or without ";"), or null.
const char* bareWordHint(const char* zLine) {
  while (isSpace(*zLine)) zLine++;
  const char* zEnd = zLine + std::strlen(zLine);
  while (zEnd > zLine && isSpace(zEnd[-1])) zEnd--;
  if (zEnd > zLine && zEnd[-1] == ';') zEnd--;
  const std::string_view zWord(zLine, static_cast<size_t>(zEnd - zLine));
  auto is = [&](const char* zName) {
    return zWord.size() == std::strlen(zName) &&
           sqlite3_strnicmp(zWord.data(), zName, static_cast<int>(zWord.size())) == 0;
  };
  if (is("exit") || is("quit")) return "Use \".quit\" to leave the shell.\n";
  if (is("help")) return "Use \".help\" for the list of commands.\n";
  return nullptr;
}

// Turns the NUL bytes among the first nLine bytes of zLine into blanks, so
// that the scanners see the whole line; true when there were any.
bool blankNulBytes(char* zLine, size_t nLine) {
  if (std::strlen(zLine) == nLine) return false;
  for (size_t i = 0; i < nLine; i++) {
    if (zLine[i] == 0) zLine[i] = ' ';
  }
  return true;
}

// Reports input that is not run because a line of it held a NUL byte; returns
// the error count to add.
int reportNulLine(int iStartLine, int iNulLine, const char* zOutcome) {
  std::fflush(stdout);
  if (iStartLine == iNulLine) {
    std::fprintf(stderr, "Error near line %d: the line holds a NUL byte; %s\n", iNulLine, zOutcome);
  } else {
    std::fprintf(stderr, "Error near line %d: line %d holds a NUL byte; %s\n", iStartLine, iNulLine,
                 zOutcome);
  }
  return 1;
}

// Puts the lines of zText before those waiting in aQueued.
void queueLinesFirst(std::deque<std::string>& aQueued, std::string_view zText) {
  std::deque<std::string> aLines;
  while (!zText.empty()) {
    size_t iEnd = zText.find('\n');
    std::string_view zOne = zText.substr(0, iEnd);
    if (!zOne.empty() && zOne.back() == '\r') zOne.remove_suffix(1);
    aLines.emplace_back(zOne);
    if (iEnd == std::string_view::npos) break;
    zText.remove_prefix(iEnd + 1);
  }
  aQueued.insert(aQueued.begin(), aLines.begin(), aLines.end());
}

// A copy of zText in a buffer the line readers may reuse (they take any
// buffer handed back to them for one of at least 100 bytes).
char* lineBuffer(const std::string& zText) {
  char* z = checkAlloc(static_cast<char*>(std::malloc(std::max<size_t>(zText.size() + 1, 100))));
  std::memcpy(z, zText.data(), zText.size());
  z[zText.size()] = 0;
  return z;
}

}  // namespace

char* getLine(char* zLine, FILE* in, size_t* pnLine) {
  // Every buffer handed back holds at least 100 bytes; getdelim grows it as
  // needed.  The length it reports counts any NUL bytes, which strlen would
  // take for the end of the line (and with it lose the line end after them).
  size_t nAlloc = zLine == nullptr ? 0 : 100;
  errno = 0;
  const ssize_t nRead = getdelim(&zLine, &nAlloc, '\n', in);
  if (nRead < 0) {
    if (errno == ENOMEM) exitOutOfMemory();
    std::free(zLine);
    return nullptr;
  }
  size_t n = static_cast<size_t>(nRead);
  if (n > 0 && zLine[n - 1] == '\n') {
    n--;
    if (n > 0 && zLine[n - 1] == '\r') n--;
  }
  zLine[n] = 0;
  if (pnLine != nullptr) *pnLine = n;
  // Terminals deliver UTF-8 here: no code-page conversion is needed.
  return zLine;
}

char* readLine(FILE* in, char* zPrior, int isContinuation, size_t* pnLine) {
  if (in != nullptr) return getLine(zPrior, in, pnLine);
  std::printf("%s", isContinuation ? zContPrompt : zMainPrompt);
  std::fflush(stdout);
  return getLine(zPrior, stdin, pnLine);
}

LineScanState scanLine(const char* zLine, LineScanState state) {
  char cWait = static_cast<char>(state & scanWaitMask);
  const char* z = zLine;
  while (true) {
    if (cWait == 0) {
      // Plain SQL.
      char c = 0;
      while ((c = *z++) != 0) {
        if (isSpace(c)) continue;
        if (c == '-' && *z == '-') {
          while (*z && *z != '\n') z++;
          if (*z == 0) return state;
          continue;
        }
        if (c == ';') {
          state |= endsWithSemicolon;
          continue;
        }
        if (c == '/' && *z == '*') {
          z++;
          cWait = '*';
          state = (state & (hasContent | endsWithSemicolon)) | '*';
          break;
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
          cWait = c == '[' ? ']' : c;
          state = hasContent | static_cast<unsigned char>(cWait);
          break;
        }
        state = (state & ~endsWithSemicolon) | hasContent;
      }
      if (c == 0) return state;
    }
    // Inside a quoted string or name, or a block comment.
    char c = 0;
    while ((c = *z++) != 0) {
      if (c != cWait) continue;
      if (cWait == '*') {
        if (*z != '/') continue;
        z++;
      } else if (cWait != ']' && *z == cWait) {
        z++;  // a doubled quote stays inside
        continue;
      }
      state &= hasContent | endsWithSemicolon;
      cWait = 0;
      break;
    }
    if (c == 0) return state;
  }
}

bool isCommandTerminator(const char* zLine) {
  while (isSpace(*zLine)) zLine++;
  if (zLine[0] == '/') {
    zLine += 1;
  } else if ((zLine[0] == 'g' || zLine[0] == 'G') && (zLine[1] == 'o' || zLine[1] == 'O')) {
    zLine += 2;
  } else {
    return false;
  }
  return scanLine(zLine, 0) == 0;
}

bool isCompleteSql(const char* zSql, int nSql) {
  if (zSql == nullptr || nSql <= 0) return true;
  std::string zCopy(zSql, static_cast<size_t>(nSql));
  zCopy += ';';
  return sqlite3_complete(zCopy.c_str()) != 0;
}

namespace {

// The tokens and states of the statement-end automaton.  Only what can end
// a statement matters: a ";" ends one unless it stands inside the body of a
// CREATE TRIGGER, which ends at ";" after the word END.
enum class CompleteToken : unsigned char {
  semi,
  space,
  other,
  explainWord,
  createWord,
  tempWord,
  triggerWord,
  endWord
};
enum class CompleteState : unsigned char {
  initial,
  start,
  normal,
  explainSeen,
  createSeen,
  inTrigger,
  triggerSemi,
  triggerEnd
};
constexpr int nCompleteTokens = 8;

constexpr CompleteState completeTransitions[][nCompleteTokens] = {
    // semi, space, other, explain, create, temp, trigger, end
    /* initial */ {CompleteState::start, CompleteState::initial, CompleteState::normal,
                   CompleteState::explainSeen, CompleteState::createSeen, CompleteState::normal,
                   CompleteState::normal, CompleteState::normal},
    /* start */
    {CompleteState::start, CompleteState::start, CompleteState::normal, CompleteState::explainSeen,
     CompleteState::createSeen, CompleteState::normal, CompleteState::normal,
     CompleteState::normal},
    /* normal */
    {CompleteState::start, CompleteState::normal, CompleteState::normal, CompleteState::normal,
     CompleteState::normal, CompleteState::normal, CompleteState::normal, CompleteState::normal},
    /* explainSeen */
    {CompleteState::start, CompleteState::explainSeen, CompleteState::explainSeen,
     CompleteState::normal, CompleteState::createSeen, CompleteState::normal, CompleteState::normal,
     CompleteState::normal},
    /* createSeen */
    {CompleteState::start, CompleteState::createSeen, CompleteState::normal, CompleteState::normal,
     CompleteState::normal, CompleteState::createSeen, CompleteState::inTrigger,
     CompleteState::normal},
    /* inTrigger */
    {CompleteState::triggerSemi, CompleteState::inTrigger, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::inTrigger, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::inTrigger},
    /* triggerSemi */
    {CompleteState::triggerSemi, CompleteState::triggerSemi, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::inTrigger, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::triggerEnd},
    /* triggerEnd */
    {CompleteState::start, CompleteState::triggerEnd, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::inTrigger, CompleteState::inTrigger,
     CompleteState::inTrigger, CompleteState::inTrigger},
};

CompleteState completeStep(CompleteState eState, CompleteToken eToken) {
  return completeTransitions[static_cast<int>(eState)][static_cast<int>(eToken)];
}

// White space as the engine's completeness check knows it (no vertical tab).
bool isCompleteSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// A character of a word: letters, digits, "_", "$" and every byte of a
// multi-byte character.
bool isWordChar(unsigned char c) {
  return c >= 0x80 || std::isalnum(c) != 0 || c == '_' || c == '$';
}

CompleteToken classifyWord(std::string_view zWord) {
  auto is = [&](const char* zName) {
    return zWord.size() == std::strlen(zName) &&
           sqlite3_strnicmp(zWord.data(), zName, static_cast<int>(zWord.size())) == 0;
  };
  if (is("create")) return CompleteToken::createWord;
  if (is("trigger")) return CompleteToken::triggerWord;
  if (is("temp") || is("temporary")) return CompleteToken::tempWord;
  if (is("end")) return CompleteToken::endWord;
  if (is("explain")) return CompleteToken::explainWord;
  return CompleteToken::other;
}

}  // namespace

void CompletenessTracker::addLine(std::string_view zLine) {
  // The "\n" that joins the lines ends a line comment; elsewhere it is white
  // space or part of an open string, name or block comment.
  if (bStarted && cWait == '-') cWait = 0;
  bStarted = true;
  scan(zLine);
}

void CompletenessTracker::scan(std::string_view z) {
  auto eNow = static_cast<CompleteState>(eState);
  const size_t n = z.size();
  size_t i = 0;
  while (i < n) {
    if (cWait != 0) {
      // Inside something opened earlier: find what closes it.
      size_t iEnd = std::string_view::npos;
      if (cWait == '*') {
        iEnd = z.find("*/", i);
        if (iEnd != std::string_view::npos) iEnd++;
      } else if (cWait == '-') {
        iEnd = z.find('\n', i);
      } else {
        iEnd = z.find(cWait, i);
      }
      if (iEnd == std::string_view::npos) break;
      // A closed string or name is a token of its own; a comment is space.
      if (cWait != '*' && cWait != '-') eNow = completeStep(eNow, CompleteToken::other);
      cWait = 0;
      i = iEnd + 1;
      continue;
    }
    const auto c = static_cast<unsigned char>(z[i]);
    const char cNext = i + 1 < n ? z[i + 1] : '\n';
    if (isCompleteSpace(c)) {
      i++;
    } else if (c == ';') {
      eNow = completeStep(eNow, CompleteToken::semi);
      i++;
    } else if (c == '-' && cNext == '-') {
      cWait = '-';
      i += 2;
    } else if (c == '/' && cNext == '*') {
      cWait = '*';
      i += 2;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      cWait = c == '[' ? ']' : static_cast<char>(c);
      i++;
    } else if (isWordChar(c)) {
      size_t iEnd = i + 1;
      while (iEnd < n && isWordChar(static_cast<unsigned char>(z[iEnd]))) iEnd++;
      eNow = completeStep(eNow, classifyWord(z.substr(i, iEnd - i)));
      i = iEnd;
    } else {
      eNow = completeStep(eNow, CompleteToken::other);
      i++;
    }
  }
  eState = static_cast<unsigned char>(eNow);
}

bool CompletenessTracker::isComplete() const {
  // An open line comment ends with the text; anything else left open does not.
  return (cWait == 0 || cWait == '-') && eState == static_cast<unsigned char>(CompleteState::start);
}

bool CompletenessTracker::isCompleteWithSemicolon() const {
  if (!bStarted) return true;
  if (cWait == '-') return isComplete();  // the ";" joins the comment
  if (cWait != 0) return false;
  CompletenessTracker copy = *this;
  copy.scan(";");
  return copy.isComplete();
}

void echoInput(ShellContext* p, const char* zText) {
  if (p->mFlags & ShellFlag::Echo) printConsole(p->pOut, "%s\n", zText);
}

int runSqlChunk(ShellContext* p, char* zSql, FILE* in, int iStartLine) {
  rememberStatement(zSql);
  openDatabase(p, 0);
  if (p->mFlags & ShellFlag::Backslash) expandBackslashEscapes(zSql);
  if (p->mProgressFlags & 2) p->nProgressCalls = 0;

  char* zErrMsg = nullptr;
  const int nWriteFailuresBefore = writeFailureCount();
  startTimer();
  int rc = runStatements(p, zSql, &zErrMsg);
  stopTimer();

  if (rc != 0 || zErrMsg != nullptr) {
    SqlitePtr zOwnedErr(zErrMsg);
    reportStatementError(p, zErrMsg, in == nullptr && bStdinIsTty ? 0 : iStartLine);
    checkCommandOutput(p);
    return 1;
  }
  if (p->mFlags & ShellFlag::CountChanges) {
    char zLineBuf[2000];
    sqlite3_snprintf(sizeof(zLineBuf), zLineBuf, "changes: %lld   total_changes: %lld",
                     sqlite3_changes64(p->db), sqlite3_total_changes64(p->db));
    printConsole(p->pOut, "%s\n", zLineBuf);
  }
  // Output that could not be written fails the chunk.
  checkCommandOutput(p);
  return writeFailureCount() != nWriteFailuresBefore ? 1 : 0;
}

int processInput(ShellContext* p) {
  if (p->nInputDepth == maxInputDepth) {
    std::fprintf(stderr, "Input nesting limit (%d) reached at line %d. Check recursion.\n",
                 maxInputDepth, p->iLineNo);
    return 1;
  }
  // Nested input (.read) runs in safe mode from its first line: a .nonce
  // lifts the command that reads it, not the first command read.
  if (p->nInputDepth > 0) p->bSafeActive = p->bSafePersistent;
  p->nInputDepth++;
  p->iLineNo = 0;

  char* zLine = nullptr;
  char* zSql = nullptr;
  sqlite3_int64 nSql = 0;
  sqlite3_int64 nSqlAlloc = 0;
  int iStartLine = 0;
  int nErrCount = 0;
  int state = 0;
  bool bAtEnd = false;
  // Whether the gathered SQL forms complete statements, followed line by line.
  CompletenessTracker completeness;
  // The first line of the gathered SQL that held a NUL byte (0: none).  Such a
  // statement is not run at all: the text after the NUL cannot reach the engine.
  int iNulLine = 0;

  // Someone at the keyboard, rather than a script, a pipe or a file.
  const bool bAtKeyboard = p->pIn == nullptr && bStdinIsTty && isatty(STDIN_FILENO) != 0;
  const bool bEditing = p->pIn == nullptr && lineEditorActive();
  // Lines to read before the input's own: the text saved in the editor
  // (Ctrl-X Ctrl-E, .edit), read as if typed.
  std::deque<std::string> aQueued;

  while (nErrCount == 0 || !bBailOnError || (p->pIn == nullptr && bStdinIsTty)) {
    std::fflush(p->pOut);
    // A signal that ends the session (the terminal hung up, SIGTERM) stops
    // every input before its next line.
    if (terminationSignal() != 0) {
      bAtEnd = true;
      break;
    }
    bool bNulInLine = false;
    const bool bQueuedLine = !aQueued.empty();
    if (bQueuedLine) {
      std::free(zLine);
      zLine = lineBuffer(aQueued.front());
      const size_t nLen = aQueued.front().size();
      aQueued.pop_front();
      bNulInLine = blankNulBytes(zLine, nLen);
      // At the keyboard the line is shown at its prompt, as if typed.
      if (bEditing || bAtKeyboard) {
        std::printf("%s%s\n", nSql > 0 ? zContPrompt : zMainPrompt, zLine);
        std::fflush(stdout);
      }
    } else if (bEditing) {
      std::free(zLine);
      const EditorRead eRead = lineEditorRead(nSql > 0 ? zContPrompt : zMainPrompt,
                                              std::string_view(zSql, nSql), &zLine);
      if (eRead == EditorRead::Edited) {
        // The saved text replaces the statement begun and the line typed.
        queueLinesFirst(aQueued, zLine);
        nSql = 0;
        state = 0;
        continue;
      }
      if (eRead == EditorRead::Interrupted) {
        // Ctrl-C at the prompt also forgets a statement begun on earlier lines.
        nSql = 0;
        state = 0;
        continue;
      }
      if (eRead == EditorRead::End) {
        bAtEnd = true;
        break;
      }
    } else {
      size_t nLen = 0;
      zLine = readLine(p->pIn, zLine, nSql > 0, &nLen);
      if (zLine == nullptr) {
        const int iErrno = errno;
        FILE* in = p->pIn != nullptr ? p->pIn : stdin;
        // A terminal that fails (it went away) ends the session as Ctrl-D does.
        if (std::ferror(in) != 0 && !bAtKeyboard && terminationSignal() == 0) {
          std::fprintf(stderr, "Error near line %d: cannot read the input: %s\n", p->iLineNo + 1,
                       std::strerror(iErrno));
          nErrCount++;
        }
        bAtEnd = true;
        break;
      }
      bNulInLine = blankNulBytes(zLine, nLen);
    }
    if (nInterrupts != 0) {
      if (p->pIn != nullptr) break;
      nInterrupts = 0;
      // The terminal dropped what was typed before the Ctrl-C; drop the
      // statement begun on earlier lines too.
      if (bAtKeyboard) {
        nSql = 0;
        state = 0;
      }
    }
    // A line given back by the editor is not a line of the input: errors
    // name the line that asked for the editor.
    if (!bQueuedLine) p->iLineNo++;
    if (bAtKeyboard && nSql == 0) {
      if (const char* zHint = bareWordHint(zLine)) {
        std::fputs(zHint, stderr);
        continue;
      }
    }
    if ((state & scanWaitMask) == 0 && isCommandTerminator(zLine) &&
        (nSql == 0 || completeness.isCompleteWithSemicolon())) {
      std::memcpy(zLine, ";", 2);
    }
    state = scanLine(zLine, state);
    if (isPlainWhite(state) && nSql == 0) {
      if (bNulInLine) {
        nErrCount += reportNulLine(p->iLineNo, p->iLineNo, "the line is ignored");
      } else {
        echoInput(p, zLine);
      }
      state = 0;
      continue;
    }
    if (nSql == 0 && bNulInLine && (zLine[0] == '.' || zLine[0] == '#')) {
      nErrCount +=
          reportNulLine(p->iLineNo, p->iLineNo,
                        zLine[0] == '.' ? "the command is not run" : "the line is ignored");
      state = 0;
      continue;
    }
    if (nSql == 0 && (zLine[0] == '.' || zLine[0] == '#')) {
      echoInput(p, zLine);
      if (zLine[0] == '.') {
        if (bEditing) lineEditorRemember(zLine);
        if (bAtKeyboard) beginPagedOutput(p);
        int rc = runDotCommand(zLine, p);
        if (bAtKeyboard) endPagedOutput(p);
        const std::string zGivenBack = takeQueuedInput();
        if (!zGivenBack.empty()) queueLinesFirst(aQueued, zGivenBack);
        if (rc == 2) break;
        if (rc != 0) nErrCount++;
      }
      state = 0;
      continue;
    }

    sqlite3_int64 nLine = textLength(zLine);
    if (nSqlAlloc <= nSql + nLine + 2) {
      nSqlAlloc = nSql + nSql / 2 + nLine + 100;
      zSql = checkAlloc(static_cast<char*>(std::realloc(zSql, static_cast<size_t>(nSqlAlloc))));
    }
    if (nSql == 0) {
      const char* zStart = zLine;
      while (isSpace(*zStart)) zStart++;
      nSql = textLength(zStart);
      std::memcpy(zSql, zStart, static_cast<size_t>(nSql) + 1);
      iStartLine = p->iLineNo;
      iNulLine = 0;
      completeness.reset();
      completeness.addLine(std::string_view(zSql, static_cast<size_t>(nSql)));
    } else {
      zSql[nSql++] = '\n';
      std::memcpy(zSql + nSql, zLine, static_cast<size_t>(nLine) + 1);
      completeness.addLine(std::string_view(zSql + nSql, static_cast<size_t>(nLine)));
      nSql += nLine;
    }
    if (bNulInLine && iNulLine == 0) iNulLine = p->iLineNo;

    if (nSql > 0 && isAtSemicolon(state) && completeness.isComplete()) {
      if (iNulLine != 0) {
        nErrCount += reportNulLine(iStartLine, iNulLine, "the statement is not run");
      } else {
        echoInput(p, zSql);
        if (bEditing) lineEditorRemember(zSql);
        if (bAtKeyboard) beginPagedOutput(p);
        nErrCount += runSqlChunk(p, zSql, p->pIn, iStartLine);
        if (bAtKeyboard) endPagedOutput(p);
      }
      nSql = 0;
      if (p->nOnceCount != 0) {
        if (restoreOutput(p)) nErrCount++;
        p->nOnceCount = 0;
      } else {
        discardTempFile(p);
      }
      p->bSafeActive = p->bSafePersistent;
      state = 0;
    } else if (nSql > 0 && isPlainWhite(state)) {
      if (iNulLine != 0) {
        nErrCount += reportNulLine(iStartLine, iNulLine, "the lines are ignored");
      } else {
        echoInput(p, zSql);
      }
      nSql = 0;
      state = 0;
    }
  }

  if (bAtEnd && p->pIn == nullptr && bStdinIsTty) std::printf("\n");
  if (nSql > 0 && bAtEnd && bAtKeyboard) {
    // At the keyboard a statement is run only once it is ended: Ctrl-D after
    // "delete from t" must not delete every row.
    std::fflush(stdout);
    std::fputs("Unfinished statement discarded (a statement ends with \";\").\n", stderr);
  } else if (nSql > 0 && terminationSignal() != 0) {
    // Nothing more runs once the session is ending.
  } else if (nSql > 0 && iNulLine != 0) {
    nErrCount += reportNulLine(iStartLine, iNulLine, "the statement is not run");
  } else if (nSql > 0) {
    echoInput(p, zSql);
    nErrCount += runSqlChunk(p, zSql, p->pIn, iStartLine);
    p->bSafeActive = p->bSafePersistent;
  }
  std::free(zSql);
  std::free(zLine);
  p->nInputDepth--;
  return nErrCount > 0 ? 1 : 0;
}
