// Line editing, history and Tab completion at the keyboard, through libedit's
// readline interface.  Used only when the shell is interactive and both
// standard input and standard output are terminals; everything else reads
// plain lines.
#pragma once

#include <string>
#include <string_view>

struct ShellContext;

// The result of reading one line at the keyboard.
enum class EditorRead {
  Line,         // a line was entered
  Interrupted,  // Ctrl-C: the line being typed was thrown away
  End,          // end of input (Ctrl-D on an empty line)
};

// Whether the keyboard gets line editing: standard input and output are
// terminals and TERM names one that can do more than print ("dumb").
bool lineEditingWanted();
// Whether highlighting with colour is wanted: NO_COLOR is unset or empty and
// TERM is not "dumb".
bool colourWanted();

// Starts line editing for the session and loads the history.
void lineEditorOpen(ShellContext* p);
bool lineEditorActive();
// Prints zPrompt and reads a line into *pzLine (malloc'd, owned by the
// caller).  zPending is the SQL gathered from earlier lines of the
// statement, which completion takes into account.
EditorRead lineEditorRead(const char* zPrompt, std::string_view zPending, char** pzLine);
// Adds a complete statement or dot-command to the history.
void lineEditorRemember(const char* zEntry);
// Saves the history (never in safe mode) and ends line editing.
void lineEditorClose();

// Entries kept in the history file.
inline constexpr int nHistoryMax = 2000;
// The history file: $SQLSH_HISTORY when set (empty turns history off),
// else .sqlsh_history in zHome; empty when there is none.
std::string historyFileName(const char* zHome);
// Writes the history to zFile through a fresh file readable by its owner
// only, which then replaces zFile.  Returns false when nothing was written.
bool saveHistoryFile(const std::string& zFile);
