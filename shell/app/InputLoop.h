// Reading input lines, assembling statements, running them and reporting errors.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

struct ShellContext;

int processInput(ShellContext* p);
// Both return the line without its line end, or null at the end of the input.
// *pnLine (when given) receives the line's length, which exceeds its strlen
// when the line holds NUL bytes.
char* readLine(FILE* in, char* zPrior, int isContinuation, size_t* pnLine = nullptr);
char* getLine(char* zLine, FILE* in, size_t* pnLine = nullptr);
// The scanner's state: the low 8 bits hold the character that closes the
// construct being scanned (0 in plain SQL); the bits above mark what was seen.
using LineScanState = int;
enum : LineScanState {
  hasContent = 0x100,         // text other than white space, comments and semicolons
  endsWithSemicolon = 0x200,  // the last thing seen in plain SQL was a semicolon
};

LineScanState scanLine(const char* zLine, LineScanState state);
bool isCommandTerminator(const char* zLine);
bool isCompleteSql(const char* zSql, int nSql);

// Says what sqlite3_complete would say of the SQL gathered so far, taking it a
// line at a time: each line is looked at once, so a statement of many lines is
// checked in time linear in its length.  The text is the lines joined by "\n".
class CompletenessTracker {
 public:
  void reset() { *this = CompletenessTracker(); }
  void addLine(std::string_view zLine);
  // True when sqlite3_complete would accept the lines added so far.
  bool isComplete() const;
  // The same for the lines with a ";" appended.
  bool isCompleteWithSemicolon() const;

 private:
  void scan(std::string_view z);

  unsigned char eState = 0;  // the statement-end automaton's state
  char cWait = 0;            // what closes the open string, name or comment ('-': a line comment)
  bool bStarted = false;     // a line was added
};
void echoInput(ShellContext* p, const char* zText);
int runSqlChunk(ShellContext* p, char* zSql, FILE* in, int iStartLine);
