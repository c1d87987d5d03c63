// Output destinations: files, pipes, one-shot redirection, temporary files.
#pragma once

#include <cstdio>

struct ShellContext;

FILE* openOutputStream(const char* zFile, bool bTextMode);
// Starts zCommand with a write pipe (null when it cannot be started).  While
// the pipe is open, a command that stops reading gives write errors instead
// of ending the shell; restoreOutput closes the pipe.
FILE* openOutputPipe(const char* zCommand);
void closeOutputStream(FILE* f);
// Ends the current redirection: afterwards pOut is stdout and zOutName "".
void restoreOutput(ShellContext* p);
void makeTempFileName(ShellContext* p, const char* zSuffix);
void discardTempFile(ShellContext* p);
FILE* openInputFile(const char* zName);
