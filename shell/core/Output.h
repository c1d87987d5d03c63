// Console-aware formatted output and the value writers of the output modes.
#pragma once

#include <cstdio>

struct ShellContext;

// Formats with the engine's formatter (%q, %Q, %w are available) and writes to
// out.  On Linux terminals take UTF-8, so no code-page conversion is needed.
void printConsole(FILE* out, const char* zFormat, ...);
// The C library's formatted write, without conversion.
void printRaw(FILE* out, const char* zFormat, ...) __attribute__((format(printf, 2, 3)));

// Switch out to untranslated / translated line ends (on Linux: flush only).
void setBinaryOutput(FILE* out, bool bFlush);
void setTextOutput(FILE* out, bool bFlush);

// The first of zA, zB, "(zA0)", "(zA1)", ... that does not occur in z.
const char* findUnusedMarker(const char* z, const char* zA, const char* zB, char zBuf[20]);

void writeSqlString(FILE* out, const char* z);
void writeSqlStringEscaped(FILE* out, const char* z);
void writeCString(FILE* out, const char* z);
void writeCsvField(ShellContext* p, const char* z, bool bSep);
void writeHtmlText(FILE* out, const char* z);
// n < 0: up to the terminator.  UTF-8 passes through unchanged.
void writeJsonString(FILE* out, const char* z, int n);
// A blob as a JSON string: like writeJsonString, but every byte from 0x80 up
// is written as \u00xx so that the output stays valid UTF-8.
void writeJsonBlob(FILE* out, const void* pBlob, int nBlob);
void writeHexBlob(FILE* out, const void* pBlob, int nBlob);

// ---------------------------------------------------------------------------
// Write errors of the output destinations.  A failed write is reported once,
// on standard error, with the destination's name and the system's reason; a
// reader that went away (EPIPE) ends that destination's output quietly.
enum class WriteStatus { Ok, Failed, ReaderGone };

// Gives f a name for the messages (the output file or "|command").  Standard
// output is known as "stdout" without being named.
void nameDestination(FILE* f, const char* zName);
// Drops what is remembered about f (call before it is closed).
void forgetDestination(FILE* f);
// The cheap test after a batch of writes: no flush, no message.  The first
// time the stream's error flag is seen, errno is kept as the reason.
WriteStatus pollWrites(FILE* f);
// Flushes f; a failure seen now or earlier is reported (and then cleared, so
// the next command starts afresh).  Standard error is never checked.
WriteStatus checkWrites(FILE* f);
// Flushes and closes f (with pclose when bPipe) and forgets it; a failure is
// reported as checkWrites does.  True when a failure was reported.
bool closeDestination(FILE* f, bool bPipe);
// How many write failures have been reported since the start: a command
// whose run raised it has failed.
int writeFailureCount();
// The check at the end of a command: the current output, standard output,
// the log and the trace streams.  True when a failure was reported.
bool checkCommandOutput(ShellContext* p);
