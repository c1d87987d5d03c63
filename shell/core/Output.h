// Console-aware formatted output and the value writers of the output modes.
#pragma once

#include <cstdio>
#include <cstring>

struct ShellContext;

// Output staged on the stack and handed to the stream in one write: a row
// renderer formats a whole row into one, so that the stream sees one fwrite
// per row instead of a call for every value and separator.  Whatever does not
// fit goes on to the stream as it comes, so values of any size are fine; the
// rest goes at flush() or at the end of the owner's scope.  The stream's own
// buffering (a line at a time at a terminal) is untouched.
class StagedOutput {
 public:
  explicit StagedOutput(FILE* out) : out_(out) {}
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;
  ~StagedOutput() { flush(); }

  void put(const char* z, size_t n) {
    if (n > sizeof(a_) - n_) {
      spill(z, n);
      return;
    }
    char* q = a_ + n_;
    n_ += n;
    // Most values are short: two overlapping fixed-size copies beat a call.
    if (n >= 8 && n <= 16) {
      std::memcpy(q, z, 8);
      std::memcpy(q + n - 8, z + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(q, z, 4);
      std::memcpy(q + n - 4, z + n - 4, 4);
    } else if (n < 4) {
      for (size_t i = 0; i < n; i++) q[i] = z[i];
    } else {
      std::memcpy(q, z, n);
    }
  }
  void put(const char* z) { put(z, std::strlen(z)); }
  void put(char c) {
    if (n_ == sizeof(a_)) flush();
    a_[n_++] = c;
  }
  void flush() {
    if (n_ > 0) fwrite_unlocked(a_, 1, n_, out_);
    n_ = 0;
  }
  // Writes what is staged, then stages for out.
  void reset(FILE* out) {
    flush();
    out_ = out;
  }
  // Room for n bytes (at most nRoomMax) at the end of the staged run: the
  // caller writes into it, then commits what it wrote.
  static constexpr size_t nRoomMax = 8192;
  char* room(size_t n) {
    if (n > sizeof(a_) - n_) flush();
    return a_ + n_;
  }
  void commit(char* zEnd) { n_ = static_cast<size_t>(zEnd - a_); }

 private:
  void spill(const char* z, size_t n);

  FILE* out_;
  size_t n_ = 0;
  char a_[nRoomMax];
};

// The held row output: the row renderers stage each row here.  Into a file
// or a pipe the rows of a result are kept and written when the buffer fills;
// at a terminal, to the pager (or any stream without a file descriptor),
// each row is written as it ends, so that a slow result shows row by row.
// What is held is written before anything else is printed through the
// printers below (a SQL function or a trace printing while the statement
// steps) and when the result ends: flushRowOutput.
// bFirstOfResult: the row is a result's first (whether to hold is decided
// afresh).
StagedOutput& beginRowOutput(FILE* out, bool bFirstOfResult);
// The row is complete: written now unless rows are held.
void endRowOutput();
// Writes whatever rows are held.
void flushRowOutput();

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

// Runs write on a StagedOutput of out, between the switches to untranslated
// line ends that SQL literals need: the stream versions of the literal
// writers below.
template <typename Write>
void writeLiteralTo(FILE* out, Write&& write) {
  setBinaryOutput(out, false);
  {
    StagedOutput staged(out);
    write(staged);
  }
  setTextOutput(out, false);
}

// z in single quotes, inner ones doubled.
void writeSqlString(FILE* out, const char* z);
void writeSqlString(StagedOutput& out, const char* z);
// Like writeSqlString, with line feeds and carriage returns written through
// markers that replace() turns back into char(10) and char(13).
void writeSqlStringEscaped(FILE* out, const char* z);
void writeSqlStringEscaped(StagedOutput& out, const char* z);
void writeCString(FILE* out, const char* z);
void writeCsvField(ShellContext* p, const char* z, bool bSep);
// The text z[0, n) as one CSV field, staged: in double quotes, inner ones
// doubled, when it is empty or holds a byte that needs them or the column
// separator zSep (nSep bytes, measured once for a row).
void writeCsvText(StagedOutput& out, const char* z, size_t n, const char* zSep, size_t nSep);
void writeHtmlText(FILE* out, const char* z);
// n < 0: up to the terminator.  UTF-8 passes through unchanged.
void writeJsonString(FILE* out, const char* z, int n);
// A blob as a JSON string: like writeJsonString, but every byte from 0x80 up
// is written as \u00xx so that the output stays valid UTF-8.
void writeJsonBlob(FILE* out, const void* pBlob, int nBlob);
void writeJsonString(StagedOutput& out, const char* z, int n);
void writeJsonBlob(StagedOutput& out, const void* pBlob, int nBlob);
void writeHexBlob(FILE* out, const void* pBlob, int nBlob);
void writeHexBlob(StagedOutput& out, const void* pBlob, int nBlob);

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
