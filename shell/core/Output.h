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
