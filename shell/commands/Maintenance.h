// Helpers of the maintenance and test commands (.lint, .selftest, .testcase,
// .check) that are worth testing on their own.
#pragma once

struct TextBuffer;

// The file that .testcase writes and .check reads, in the working directory.
inline constexpr const char* zTestcaseFile = "testcase-out.txt";

// The glob of .check: '*', '?', '[...]' classes, '#' for an integer, and any
// run of white space in the pattern matching a run of white space in the
// text; trailing white space in the text is ignored.  1 on a match, else 0.
int matchTestPattern(const char* zPattern, const char* zText);

// The sqlite3_exec callback of .selftest: appends one result row to the
// TextBuffer in pArg, rows joined by "|", values by ",", NULL as nothing.
int appendResultRow(void* pArg, int nCol, char** azVal, char** azCol);
