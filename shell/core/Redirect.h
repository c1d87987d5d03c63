// Output destinations: files, pipes, one-shot redirection, temporary files.
#pragma once

#include <cstdio>

struct ShellContext;

FILE* openOutputStream(const char* zFile, bool bTextMode);
// Starts zCommand with a write pipe (null when it cannot be started).  While
// the pipe is open, a command that stops reading gives write errors instead
// of ending the shell; restoreOutput closes the pipe.
FILE* openOutputPipe(const char* zCommand);
// Closes a file from openOutputStream (never stdout or stderr).  Its pending
// output is flushed first; a failed write or close is reported on standard
// error, and then the result is true.
bool closeOutputStream(FILE* f);
// Ends the current redirection: afterwards pOut is stdout and zOutName "".
// True when a write failure of the closed destination was reported.
bool restoreOutput(ShellContext* p);
void makeTempFileName(ShellContext* p, const char* zSuffix);
void discardTempFile(ShellContext* p);
FILE* openInputFile(const char* zName);

// True when the output reaches the terminal of someone at the keyboard: the
// shell reads its console and the current output is that terminal.  What
// only such a person sees (fitting, the terminal's commands in .help and
// .show) depends on this test and nothing else.
bool isTerminalOutput(const ShellContext* p);
// The width a result may take when it goes to the terminal of someone at the
// keyboard (the shell reads its console and the output is the terminal), at
// the window's size now; 0 otherwise.
int terminalOutputWidth(const ShellContext* p);
