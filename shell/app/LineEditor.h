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
  End,          // end of input: Ctrl-D on an empty line, the terminal gone or
                // failing, or a signal that ends the session
  Edited,       // Ctrl-X Ctrl-E: the text saved in the editor, which replaces
                // the statement begun and the line being typed
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
// caller), or for Edited the text saved in the editor, which may hold
// several lines.  zPending is the SQL gathered from earlier lines of the
// statement, which completion takes into account and Ctrl-X Ctrl-E edits
// with the line.  Ctrl-R searches the history: Enter runs the entry found,
// Escape or a key that moves leaves it on the line to be edited.
EditorRead lineEditorRead(const char* zPrompt, std::string_view zPending, char** pzLine);
// Adds a complete statement or dot-command to the history and, except in
// safe mode, to the history file at once.
void lineEditorRemember(const char* zEntry);
// Ends line editing.
void lineEditorClose();

// Entries kept in the history file.
inline constexpr int nHistoryMax = 2000;
// The history file: $SQLSH_HISTORY when set (empty turns history off),
// else .sqlsh_history in zHome; empty when there is none.
std::string historyFileName(const char* zHome);
// Adds zLine, one entry in the history file's own format, at the end of
// zFile and keeps no more than nMax entries there (the oldest go).  The file
// is locked while it changes, so that sessions at the same time each keep
// their entries, and it is left readable by its owner only.  Returns false
// when nothing was written.
bool appendHistoryLine(const std::string& zFile, std::string_view zLine, int nMax = nHistoryMax);
// Adds the newest entry of the line editor's history to zFile, as above.
bool appendHistoryEntry(const std::string& zFile, int nMax = nHistoryMax);
