// SQL literals for text values that the plain quoting cannot carry: text that
// holds NUL bytes, and carriage returns in a script that keeps its line feeds.
#pragma once

#include <cstddef>
#include <cstdio>

class StagedOutput;

// Writes the n bytes of text at z (z[n] is 0) as an SQL expression that reads
// back as the same bytes and type.  Text holding a NUL byte becomes
// CAST(X'..' AS TEXT); other text is quoted, with its line feeds written as
// they are when bLiteralNewlines is set (writeSqlStringKeepLineFeeds) and
// through replace() otherwise (writeSqlStringEscaped).
void writeSqlText(FILE* out, const char* z, size_t n, bool bLiteralNewlines);
void writeSqlText(StagedOutput& out, const char* z, size_t n, bool bLiteralNewlines);

// The zero-terminated text z quoted, line feeds as they are, each carriage
// return through a marker that replace() turns back into char(13): a reader
// of scripts takes CR LF for a line end, so a literal carriage return before a
// line feed would not survive.
void writeSqlStringKeepLineFeeds(FILE* out, const char* z);
void writeSqlStringKeepLineFeeds(StagedOutput& out, const char* z);
