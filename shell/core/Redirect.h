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
