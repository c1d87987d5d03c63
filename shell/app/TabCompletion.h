// What Tab proposes at the cursor: dot-command names and their arguments,
// file names, and SQL words from the connection's `completion` table.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The proposals for one Tab press.  Every candidate replaces the bytes
// [iWordStart, cursor) of the text the caller passed.
struct TabCandidates {
  size_t iWordStart = 0;
  std::vector<std::string> aWords;
  bool bFileNames = false;  // the words are file names (a directory ends with '/')
};

struct ShellContext;

// Where the names come from.
struct CompletionSource {
  sqlite3* db = nullptr;
  ShellContext* p = nullptr;  // the session, when there is one (its connection slots)
  unsigned nOpened = 0;       // databases the session opened so far
};

// zPending is the SQL gathered from earlier lines of the statement (empty at
// the main prompt); zLine is the whole line being edited and iCursor the
// cursor's offset in it.  The statement's text after the cursor counts too
// (the tables it names).
TabCandidates tabCandidates(const CompletionSource& source, std::string_view zPending,
                            std::string_view zLine, size_t iCursor);
// The same with the cursor at the end of zLine and no session.
// zPending is the SQL gathered from earlier lines of the statement (empty at
// the main prompt); zLine is the line being edited, up to the cursor.  db may
// be null: SQL words are then only the keywords.
TabCandidates tabCandidates(sqlite3* db, std::string_view zPending, std::string_view zLine);

// The parts of tabCandidates, for the tests.
std::vector<std::string> dotCommandNames(std::string_view zPrefix);
// The words one may type after the command: sub-commands and switches taken
// from the help table, on/off and friends from its usage line.
std::vector<std::string> dotCommandArgWords(std::string_view zCommand);
// Whether the command's arguments name files.
bool dotCommandTakesFile(std::string_view zCommand);
std::vector<std::string> fileNameCandidates(std::string_view zWord);
