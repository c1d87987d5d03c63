// Console-aware formatted output and the value writers of the output modes.
//
// Every writer here runs once per rendered value, so they write runs of bytes
// straight into the buffered stream and never allocate.
#include "shell/core/Output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "shell/core/ShellContext.h"

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Bytes that force a CSV field into double quotes: controls and the blank,
// the two quote characters, DEL and every byte of a multi-byte sequence.
struct CsvQuoteSet {
  bool a[256];
  constexpr CsvQuoteSet() : a() {
    for (int i = 0; i < 256; i++) {
      a[i] = i <= 0x20 || i == '"' || i == '\'' || i >= 0x7f;
    }
  }
};
constexpr CsvQuoteSet csvQuote;

// The shell is single-threaded: its streams need no locking per write.
inline void writeRun(FILE* out, const char* z, size_t n) {
  if (n > 0) fwrite_unlocked(z, 1, n, out);
}

// Writes z with every occurrence of c doubled (c included in the runs).
void writeDoubled(FILE* out, const char* z, char c) {
  while (true) {
    const char* q = std::strchr(z, c);
    if (q == nullptr) {
      fputs_unlocked(z, out);
      return;
    }
    writeRun(out, z, static_cast<size_t>(q - z) + 1);
    putc_unlocked(c, out);
    z = q + 1;
  }
}

}  // namespace

void printConsole(FILE* out, const char* zFormat, ...) {
  // Most calls print a short text: format it into a stack buffer.  Only when
  // it may have been cut is it formatted again into an engine allocation.  A
  // format that may hold "%z" (whose argument the formatter frees) is
  // formatted exactly once, straight into an allocation.
  va_list ap;
  va_start(ap, zFormat);
  if (zFormat[0] == '%' && zFormat[1] == 's' && zFormat[2] == 0) {
    // The common case of one value: no formatting at all.
    const char* z = va_arg(ap, const char*);
    va_end(ap);
    if (z) fputs_unlocked(z, out);
    return;
  }
  bool bOnce = std::strchr(zFormat, 'z') != nullptr;
  if (!bOnce) {
    char zBuf[1024];
    va_list ap2;
    va_copy(ap2, ap);
    sqlite3_vsnprintf(static_cast<int>(sizeof(zBuf)), zBuf, zFormat, ap2);
    va_end(ap2);
    size_t n = std::strlen(zBuf);
    if (n + 1 < sizeof(zBuf)) {
      va_end(ap);
      writeRun(out, zBuf, n);
      return;
    }
  }
  char* z = checkAlloc(sqlite3_vmprintf(zFormat, ap));
  va_end(ap);
  fputs_unlocked(z, out);
  sqlite3_free(z);
}

void printRaw(FILE* out, const char* zFormat, ...) {
  va_list ap;
  va_start(ap, zFormat);
  std::vfprintf(out, zFormat, ap);
  va_end(ap);
}

// Linux streams do not translate line ends: switching only flushes.
void setBinaryOutput(FILE* out, bool bFlush) {
  if (bFlush) std::fflush(out);
}

void setTextOutput(FILE* out, bool bFlush) {
  if (bFlush) std::fflush(out);
}

const char* findUnusedMarker(const char* z, const char* zA, const char* zB, char zBuf[20]) {
  if (std::strstr(z, zA) == nullptr) return zA;
  if (std::strstr(z, zB) == nullptr) return zB;
  for (unsigned i = 0;; i++) {
    sqlite3_snprintf(20, zBuf, "(%s%u)", zA, i);
    if (std::strstr(z, zBuf) == nullptr) return zBuf;
  }
}

// The SQL literal writers switch the stream to untranslated line ends around
// the literal.  Linux streams never translate, so the switch needs no flush
// (a flush per value would cost a system call for every rendered value).
void writeSqlString(FILE* out, const char* z) {
  if (z == nullptr) z = "";
  setBinaryOutput(out, false);
  putc_unlocked('\'', out);
  writeDoubled(out, z, '\'');
  putc_unlocked('\'', out);
  setTextOutput(out, false);
}

void writeSqlStringEscaped(FILE* out, const char* z) {
  if (z == nullptr) z = "";
  setBinaryOutput(out, false);
  size_t nPlain = std::strcspn(z, "'\n\r");
  if (z[nPlain] == 0) {
    putc_unlocked('\'', out);
    writeRun(out, z, nPlain);
    putc_unlocked('\'', out);
    setTextOutput(out, false);
    return;
  }
  int nNL = 0;
  int nCR = 0;
  for (const char* q = z + nPlain; *q; q++) {
    if (*q == '\n') {
      nNL++;
    } else if (*q == '\r') {
      nCR++;
    }
  }
  char zBufNL[20];
  char zBufCR[20];
  const char* zNL = nullptr;
  const char* zCR = nullptr;
  if (nNL) {
    fputs_unlocked("replace(", out);
    zNL = findUnusedMarker(z, "\\n", "\\012", zBufNL);
  }
  if (nCR) {
    fputs_unlocked("replace(", out);
    zCR = findUnusedMarker(z, "\\r", "\\015", zBufCR);
  }
  putc_unlocked('\'', out);
  while (*z) {
    size_t n = std::strcspn(z, "'\n\r");
    writeRun(out, z, n);
    z += n;
    if (*z == 0) break;
    if (*z == '\'') {
      fputs_unlocked("''", out);
    } else if (*z == '\n') {
      fputs_unlocked(zNL, out);
    } else {
      fputs_unlocked(zCR, out);
    }
    z++;
  }
  putc_unlocked('\'', out);
  if (nCR) {
    fputs_unlocked(",'", out);
    fputs_unlocked(zCR, out);
    fputs_unlocked("',char(13))", out);
  }
  if (nNL) {
    fputs_unlocked(",'", out);
    fputs_unlocked(zNL, out);
    fputs_unlocked("',char(10))", out);
  }
  setTextOutput(out, false);
}

void writeCString(FILE* out, const char* z) {
  if (z == nullptr) z = "";
  putc_unlocked('"', out);
  while (*z) {
    // A run of printable ASCII other than the two escaped characters.
    const char* q = z;
    while (*q >= 0x20 && *q < 0x7f && *q != '"' && *q != '\\') q++;
    writeRun(out, z, static_cast<size_t>(q - z));
    if (*q == 0) break;
    unsigned char c = static_cast<unsigned char>(*q);
    switch (c) {
      case '\\':
        fputs_unlocked("\\\\", out);
        break;
      case '"':
        fputs_unlocked("\\\"", out);
        break;
      case '\t':
        fputs_unlocked("\\t", out);
        break;
      case '\n':
        fputs_unlocked("\\n", out);
        break;
      case '\r':
        fputs_unlocked("\\r", out);
        break;
      default: {
        char zEsc[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                        static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7))};
        writeRun(out, zEsc, 4);
        break;
      }
    }
    z = q + 1;
  }
  putc_unlocked('"', out);
}

void writeCsvField(ShellContext* p, const char* z, bool bSep) {
  FILE* out = p->pOut;
  if (z == nullptr) {
    fputs_unlocked(p->zNullText, out);
  } else {
    bool bQuote = z[0] == 0;
    if (!bQuote) {
      for (const unsigned char* q = reinterpret_cast<const unsigned char*>(z); *q; q++) {
        if (csvQuote.a[*q]) {
          bQuote = true;
          break;
        }
      }
    }
    if (!bQuote && p->zColSep[0] != 0 && std::strstr(z, p->zColSep) != nullptr) bQuote = true;
    if (bQuote) {
      putc_unlocked('"', out);
      writeDoubled(out, z, '"');
      putc_unlocked('"', out);
    } else {
      fputs_unlocked(z, out);
    }
  }
  if (bSep) fputs_unlocked(p->zColSep, out);
}

void writeHtmlText(FILE* out, const char* z) {
  if (z == nullptr) return;
  while (*z) {
    size_t n = std::strcspn(z, "<&>\"'");
    writeRun(out, z, n);
    z += n;
    switch (*z) {
      case '<':
        fputs_unlocked("&lt;", out);
        break;
      case '&':
        fputs_unlocked("&amp;", out);
        break;
      case '>':
        fputs_unlocked("&gt;", out);
        break;
      case '"':
        fputs_unlocked("&quot;", out);
        break;
      case '\'':
        fputs_unlocked("&#39;", out);
        break;
      default:
        return;
    }
    z++;
  }
}

namespace {

// The JSON string writer behind writeJsonString and writeJsonBlob.  With
// bEscapeHigh, bytes from 0x80 up are written as \u00XX so that a blob of any
// bytes still gives valid UTF-8 JSON.
void writeJson(FILE* out, const unsigned char* z, int n, bool bEscapeHigh) {
  putc_unlocked('"', out);
  int iRun = 0;
  for (int i = 0; i < n; i++) {
    unsigned char c = z[i];
    if (c >= 0x20 && c != '"' && c != '\\' && (c < 0x80 || !bEscapeHigh)) continue;
    writeRun(out, reinterpret_cast<const char*>(z) + iRun, static_cast<size_t>(i - iRun));
    iRun = i + 1;
    char zEsc[6] = {'\\', 0, 0, 0, 0, 0};
    int nEsc = 2;
    switch (c) {
      case '"':
        zEsc[1] = '"';
        break;
      case '\\':
        zEsc[1] = '\\';
        break;
      case 0x08:
        zEsc[1] = 'b';
        break;
      case 0x0c:
        zEsc[1] = 'f';
        break;
      case 0x0a:
        zEsc[1] = 'n';
        break;
      case 0x0d:
        zEsc[1] = 'r';
        break;
      case 0x09:
        zEsc[1] = 't';
        break;
      default:
        zEsc[1] = 'u';
        zEsc[2] = '0';
        zEsc[3] = '0';
        zEsc[4] = hexDigits[c >> 4];
        zEsc[5] = hexDigits[c & 0xf];
        nEsc = 6;
        break;
    }
    writeRun(out, zEsc, static_cast<size_t>(nEsc));
  }
  writeRun(out, reinterpret_cast<const char*>(z) + iRun, static_cast<size_t>(n - iRun));
  putc_unlocked('"', out);
}

}  // namespace

void writeJsonString(FILE* out, const char* z, int n) {
  if (z == nullptr) z = "";
  if (n < 0) n = static_cast<int>(std::strlen(z));
  writeJson(out, reinterpret_cast<const unsigned char*>(z), n, false);
}

void writeJsonBlob(FILE* out, const void* pBlob, int nBlob) {
  if (pBlob == nullptr || nBlob < 0) nBlob = 0;
  writeJson(out, static_cast<const unsigned char*>(pBlob), nBlob, true);
}

void writeHexBlob(FILE* out, const void* pBlob, int nBlob) {
  const unsigned char* a = static_cast<const unsigned char*>(pBlob);
  if (a == nullptr || nBlob < 0) nBlob = 0;
  fputs_unlocked("X'", out);
  char zBuf[512];
  int nBuf = 0;
  for (int i = 0; i < nBlob; i++) {
    zBuf[nBuf++] = hexDigits[a[i] >> 4];
    zBuf[nBuf++] = hexDigits[a[i] & 0xf];
    if (nBuf == static_cast<int>(sizeof(zBuf))) {
      writeRun(out, zBuf, sizeof(zBuf));
      nBuf = 0;
    }
  }
  writeRun(out, zBuf, static_cast<size_t>(nBuf));
  putc_unlocked('\'', out);
}

// ---------------------------------------------------------------------------
// Write errors.
namespace {

// What is known about one output stream.  A handful are open at any time
// (the current output, the log, the trace, a test-case file), so a small
// table searched linearly does.
struct Destination {
  FILE* f;
  int iErrno;  // the reason of a failure not yet reported, 0 when none
  bool bGone;  // the reader went away: the output ends quietly
  char zName[nOutNameSize];
};
constexpr int nDestinations = 8;
Destination aDestinations[nDestinations];
int nWriteFailures = 0;

// The entry of f, made on first need (null only when the table is full).
Destination* destinationOf(FILE* f) {
  Destination* pFree = nullptr;
  for (Destination& d : aDestinations) {
    if (d.f == f) return &d;
    if (d.f == nullptr && pFree == nullptr) pFree = &d;
  }
  if (pFree != nullptr) {
    pFree->f = f;
    pFree->iErrno = 0;
    pFree->bGone = false;
    setSettingText(pFree->zName, f == stdout ? "stdout" : "output");
  }
  return pFree;
}

void reportFailure(const char* zName, int iErrno) {
  printConsole(stderr, "Error: cannot write to \"%s\": %s\n", zName, std::strerror(iErrno));
  nWriteFailures++;
}

// A failure whose cause was lost on the way: the generic input/output error.
int reasonOf(int iErrno) {
  return iErrno != 0 ? iErrno : EIO;
}

}  // namespace

void nameDestination(FILE* f, const char* zName) {
  if (f == nullptr || f == stderr) return;
  Destination* d = destinationOf(f);
  if (d == nullptr) return;
  d->iErrno = 0;
  d->bGone = false;
  setSettingText(d->zName, zName);
}

void forgetDestination(FILE* f) {
  for (Destination& d : aDestinations) {
    if (d.f == f) d.f = nullptr;
  }
}

WriteStatus pollWrites(FILE* f) {
  if (f == nullptr || f == stderr || !ferror_unlocked(f)) return WriteStatus::Ok;
  const int iErrno = errno;
  Destination* d = destinationOf(f);
  if (d == nullptr) return WriteStatus::Failed;
  if (d->bGone) return WriteStatus::ReaderGone;
  if (d->iErrno == 0) d->iErrno = reasonOf(iErrno);
  if (d->iErrno == EPIPE) {
    d->bGone = true;
    return WriteStatus::ReaderGone;
  }
  return WriteStatus::Failed;
}

WriteStatus checkWrites(FILE* f) {
  if (f == nullptr || f == stderr) return WriteStatus::Ok;
  // A flush that fails now gives the true reason; one that had nothing left
  // to write leaves the error flag of an earlier failure.
  errno = 0;
  if (std::fflush(f) != 0) {
    const int iErrno = errno;
    Destination* d = destinationOf(f);
    if (d != nullptr && d->iErrno == 0) d->iErrno = reasonOf(iErrno);
  }
  const WriteStatus eStatus = pollWrites(f);
  if (eStatus == WriteStatus::Failed) {
    Destination* d = destinationOf(f);
    reportFailure(d != nullptr ? d->zName : "output", d != nullptr ? d->iErrno : EIO);
    if (d != nullptr) d->iErrno = 0;
    clearerr_unlocked(f);
  }
  return eStatus;
}

bool closeDestination(FILE* f, bool bPipe) {
  const int nBefore = nWriteFailures;
  checkWrites(f);
  // The name and state outlive the stream for the message below.
  char zName[nOutNameSize];
  setSettingText(zName, "output");
  bool bGone = false;
  for (Destination& d : aDestinations) {
    if (d.f != f) continue;
    std::memcpy(zName, d.zName, sizeof(zName));
    bGone = d.bGone;
    d.f = nullptr;
  }
  // Everything was flushed above: what fails now is the close itself.  A
  // command that stopped reading is not a failure.
  errno = 0;
  const int rc = bPipe ? pclose(f) : std::fclose(f);
  const int iErrno = errno;
  if (rc == -1 || (!bPipe && rc != 0)) {
    if (!bGone && iErrno != EPIPE && iErrno != ECHILD) reportFailure(zName, reasonOf(iErrno));
  }
  return nWriteFailures != nBefore;
}

int writeFailureCount() {
  return nWriteFailures;
}

bool checkCommandOutput(ShellContext* p) {
  const int nBefore = nWriteFailures;
  checkWrites(p->pOut);
  if (p->pOut != stdout) checkWrites(stdout);
  if (p->pLogFile != p->pOut) checkWrites(p->pLogFile);
  if (p->pTraceFile != p->pOut && p->pTraceFile != p->pLogFile) checkWrites(p->pTraceFile);
  return nWriteFailures != nBefore;
}
