// Console-aware formatted output and the value writers of the output modes.
//
// Every writer here runs once per rendered value, so they write runs of bytes
// straight into the buffered stream and never allocate.
#include "shell/core/Output.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "shell/core/ShellContext.h"

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Tests of eight bytes at a time (a word loaded without alignment): whether
// any byte is below b (b at most 0x80) or equal to c.  Both are exact.
constexpr uint64_t lowBits = 0x0101010101010101ULL;
constexpr uint64_t highBits = 0x8080808080808080ULL;

inline uint64_t load8(const unsigned char* z) {
  uint64_t x;
  std::memcpy(&x, z, sizeof x);
  return x;
}
inline uint64_t anyBelow(uint64_t x, unsigned char b) {
  return (x - lowBits * b) & ~x & highBits;
}
inline uint64_t anyEqual(uint64_t x, unsigned char c) {
  return anyBelow(x ^ (lowBits * c), 1);
}

// Bytes that force a CSV field into double quotes: controls and the blank,
// the two quote characters, DEL and every byte of a multi-byte sequence; and
// the separator when it is one byte.  The table is made again when the
// separator changes.
struct CsvQuoteTable {
  bool a[256];
  unsigned char cSep;
  bool bReady;
};
CsvQuoteTable csvQuote{};

const CsvQuoteTable& csvQuoteFor(unsigned char cSep) {
  if (!csvQuote.bReady || csvQuote.cSep != cSep) {
    for (int i = 0; i < 256; i++) {
      csvQuote.a[i] = i <= 0x20 || i == '"' || i == '\'' || i >= 0x7f;
    }
    if (cSep != 0) csvQuote.a[cSep] = true;
    csvQuote.cSep = cSep;
    csvQuote.bReady = true;
  }
  return csvQuote;
}

// Whether z[0, n) holds a byte that needs quoting, with the table of
// separator cSep (0: none, or a longer one).  The word tests are exact.
bool csvNeedsQuotes(const unsigned char* z, size_t n, unsigned char cSep) {
  // Only whether some byte needs them counts, so the last block or word may
  // overlap the ones before it.
#if defined(__SSE2__)
  if (n >= 16) {
    // Sixteen bytes at a time where the processor has the vector instructions.
    const __m128i blank = _mm_set1_epi8(0x20);
    const __m128i del = _mm_set1_epi8(0x7f);
    const __m128i dquote = _mm_set1_epi8('"');
    const __m128i squote = _mm_set1_epi8('\'');
    const __m128i sep = _mm_set1_epi8(static_cast<char>(cSep != 0 ? cSep : '"'));
    for (size_t i = 0;; i += 16) {
      if (i + 16 > n) i = n - 16;
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
      const __m128i bad = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, blank), blank),
                       _mm_cmpeq_epi8(_mm_min_epu8(x, del), del)),
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, dquote), _mm_cmpeq_epi8(x, squote)),
                       _mm_cmpeq_epi8(x, sep)));
      if (_mm_movemask_epi8(bad) != 0) return true;
      if (i + 16 == n) return false;
    }
  }
#endif
  if (n >= 8) {
    for (size_t i = 0;; i += 8) {
      if (i + 8 > n) i = n - 8;
      const uint64_t x = load8(z + i);
      uint64_t m = anyBelow(x, 0x21) | (x & highBits) | anyEqual(x, 0x7f) | anyEqual(x, '"') |
                   anyEqual(x, '\'');
      if (cSep != 0) m |= anyEqual(x, cSep);
      if (m != 0) return true;
      if (i + 8 == n) return false;
    }
  }
  const CsvQuoteTable& t = csvQuoteFor(cSep);
  for (size_t i = 0; i < n; i++) {
    if (t.a[z[i]]) return true;
  }
  return false;
}

// The shell is single-threaded: its streams need no locking per write.
inline void writeRun(FILE* out, const char* z, size_t n) {
  if (n > 0) fwrite_unlocked(z, 1, n, out);
}

}  // namespace

void StagedOutput::spill(const char* z, size_t n) {
  flush();
  if (n >= sizeof(a_)) {
    fwrite_unlocked(z, 1, n, out_);
  } else {
    std::memcpy(a_, z, n);
    n_ = n;
  }
}

void printConsole(FILE* out, const char* zFormat, ...) {
  flushRowOutput();
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
  flushRowOutput();
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
void writeSqlString(StagedOutput& out, const char* z) {
  if (z == nullptr) z = "";
  out.put('\'');
  while (true) {
    const char* q = std::strchr(z, '\'');
    if (q == nullptr) {
      out.put(z);
      break;
    }
    out.put(z, static_cast<size_t>(q - z) + 1);
    out.put('\'');
    z = q + 1;
  }
  out.put('\'');
}

void writeSqlString(FILE* out, const char* z) {
  writeLiteralTo(out, [z](StagedOutput& staged) { writeSqlString(staged, z); });
}

void writeSqlStringEscaped(StagedOutput& out, const char* z) {
  if (z == nullptr) z = "";
  size_t nPlain = std::strcspn(z, "'\n\r");
  if (z[nPlain] == 0) {
    out.put('\'');
    out.put(z, nPlain);
    out.put('\'');
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
    out.put("replace(", 8);
    zNL = findUnusedMarker(z, "\\n", "\\012", zBufNL);
  }
  if (nCR) {
    out.put("replace(", 8);
    zCR = findUnusedMarker(z, "\\r", "\\015", zBufCR);
  }
  out.put('\'');
  while (*z) {
    size_t n = std::strcspn(z, "'\n\r");
    out.put(z, n);
    z += n;
    if (*z == 0) break;
    if (*z == '\'') {
      out.put("''", 2);
    } else if (*z == '\n') {
      out.put(zNL);
    } else {
      out.put(zCR);
    }
    z++;
  }
  out.put('\'');
  if (nCR) {
    out.put(",'", 2);
    out.put(zCR);
    out.put("',char(13))", 11);
  }
  if (nNL) {
    out.put(",'", 2);
    out.put(zNL);
    out.put("',char(10))", 11);
  }
}

void writeSqlStringEscaped(FILE* out, const char* z) {
  writeLiteralTo(out, [z](StagedOutput& staged) { writeSqlStringEscaped(staged, z); });
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

namespace {

// Input bytes of a quoted CSV field copied into one room of the staged
// output: at most two bytes out for each in, and room for a word written
// ahead.
constexpr size_t nCsvChunk = (StagedOutput::nRoomMax - 32) / 2;

// z[0, n) (n at most nCsvChunk) copied into q with every double quote
// doubled; returns the end.  Words are copied whole and cut at the first
// quote, as in escapeJson.
char* doubleQuotes(char* q, const char* z, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i dquote = _mm_set1_epi8('"');
  while (i + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, dquote)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), x);
    if (m == 0) {
      q += 16;
      i += 16;
      continue;
    }
    const size_t k = static_cast<size_t>(__builtin_ctz(m)) + 1;
    q += k;
    *q++ = '"';
    i += k;
  }
  // The last bytes: tested as the block that ends the text, the bytes
  // already copied masked off; without a quote they are copied whole.
  if (i < n && n >= 16) {
    const size_t r = n - i;
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + n - 16));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, dquote)));
    if ((m >> (16 - r)) == 0) {
      std::memcpy(q, z + i, r);
      return q + r;
    }
  }
#endif
  for (; i < n; i++) {
    *q++ = z[i];
    if (z[i] == '"') *q++ = '"';
  }
  return q;
}

}  // namespace

void writeCsvText(StagedOutput& out, const char* z, size_t n, const char* zSep, size_t nSep) {
  // A one-byte separator is looked for with the other bytes; a longer one
  // as a whole.
  const unsigned char cSep = nSep == 1 ? static_cast<unsigned char>(zSep[0]) : 0;
  bool bQuote = n == 0 || csvNeedsQuotes(reinterpret_cast<const unsigned char*>(z), n, cSep);
  if (!bQuote && nSep > 1) bQuote = memmem(z, n, zSep, nSep) != nullptr;
  if (!bQuote) {
    out.put(z, n);
    return;
  }
  // In double quotes, every inner one doubled, a chunk at a time straight
  // into the staged output.
  out.put('"');
  while (n > 0) {
    const size_t nChunk = n < nCsvChunk ? n : nCsvChunk;
    char* q = out.room(nChunk * 2 + 32);
    out.commit(doubleQuotes(q, z, nChunk));
    z += nChunk;
    n -= nChunk;
  }
  out.put('"');
}

void writeCsvField(ShellContext* p, const char* z, bool bSep) {
  StagedOutput out(p->pOut);
  const size_t nSep = std::strlen(p->zColSep);
  if (z == nullptr) {
    out.put(p->zNullText);
  } else {
    writeCsvText(out, z, std::strlen(z), p->zColSep, nSep);
  }
  if (bSep) out.put(p->zColSep, nSep);
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

// Escapes of the JSON string writer, by byte: the two-character forms where
// JSON has one, \u00xx for the other control characters (and for the bytes
// from 0x80 up of a blob).  Each entry is padded to eight bytes so that it is
// copied as one word; n says how many count.  abPlain says which bytes a
// string takes as they are, [1] for a blob.
struct JsonEscapes {
  char a[256][8];
  unsigned char n[256];
  // What is written for each byte, escaped or not: [0] in a text, [1] in a
  // blob.  A byte taken as it is stands for itself.
  char aOut[2][256][8];
  unsigned char nOut[2][256];
  constexpr JsonEscapes() : a(), n(), aOut(), nOut() {
    for (int c = 0; c < 256; c++) {
      const bool bPlain = c >= 0x20 && c != '"' && c != '\\';
      a[c][0] = '\\';
      n[c] = 2;
      switch (c) {
        case '"':
          a[c][1] = '"';
          break;
        case '\\':
          a[c][1] = '\\';
          break;
        case 0x08:
          a[c][1] = 'b';
          break;
        case 0x0c:
          a[c][1] = 'f';
          break;
        case 0x0a:
          a[c][1] = 'n';
          break;
        case 0x0d:
          a[c][1] = 'r';
          break;
        case 0x09:
          a[c][1] = 't';
          break;
        default:
          a[c][1] = 'u';
          a[c][2] = '0';
          a[c][3] = '0';
          a[c][4] = hexDigits[c >> 4];
          a[c][5] = hexDigits[c & 0xf];
          n[c] = 6;
          break;
      }
      for (int iKind = 0; iKind < 2; iKind++) {
        const bool bAsIs = bPlain && (iKind == 0 || c < 0x80);
        for (int j = 0; j < 8; j++)
          aOut[iKind][c][j] = bAsIs ? (j == 0 ? static_cast<char>(c) : 0) : a[c][j];
        nOut[iKind][c] = bAsIs ? 1 : n[c];
      }
    }
  }
};
constexpr JsonEscapes jsonEscapes;

// Input bytes escaped into one room of the staged output: at most six bytes
// out for each in, and room for a word written ahead.
constexpr size_t nJsonChunk = (StagedOutput::nRoomMax - 32) / 6;

// z[0, n) (n at most nJsonChunk) escaped into q; returns the end.  A word of
// input bytes is tested at once and copied whole; when it holds a byte to
// escape, the lowest such byte is exactly the first, so the copy counts up to
// it and the escape is written over the rest.  With bEscapeHigh, bytes from
// 0x80 up are escaped too.
template <bool bEscapeHigh>
char* escapeJson(char* q, const unsigned char* z, size_t n) {
  const auto& aOut = jsonEscapes.aOut[bEscapeHigh ? 1 : 0];
  const auto& nOut = jsonEscapes.nOut[bEscapeHigh ? 1 : 0];
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time where the processor has the vector instructions.
  const __m128i control = _mm_set1_epi8(0x1f);
  const __m128i dquote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  while (i + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
    const __m128i bad =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, control), control),
                     _mm_or_si128(_mm_cmpeq_epi8(x, dquote), _mm_cmpeq_epi8(x, backslash)));
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(bad));
    if (bEscapeHigh) m |= static_cast<unsigned>(_mm_movemask_epi8(x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), x);
    if (m == 0) {
      q += 16;
      i += 16;
      continue;
    }
    const size_t k = static_cast<size_t>(__builtin_ctz(m));
    q += k;
    const unsigned char c = z[i + k];
    std::memcpy(q, jsonEscapes.a[c], 8);
    q += jsonEscapes.n[c];
    i += k + 1;
  }
#endif
  while (i + 8 <= n) {
    const uint64_t x = load8(z + i);
    uint64_t m = anyBelow(x, 0x20) | anyEqual(x, '"') | anyEqual(x, '\\');
    if (bEscapeHigh) m |= x & highBits;
    std::memcpy(q, &x, 8);
    if (m == 0) {
      q += 8;
      i += 8;
      continue;
    }
    const size_t k = static_cast<size_t>(__builtin_ctzll(m)) >> 3;
    q += k;
    const unsigned char c = z[i + k];
    std::memcpy(q, jsonEscapes.a[c], 8);
    q += jsonEscapes.n[c];
    i += k + 1;
  }
  // The last bytes through the table, without a branch: each byte's entry
  // is copied whole and the output advances by its length.
  for (; i < n; i++) {
    const unsigned char c = z[i];
    std::memcpy(q, aOut[c], 8);
    q += nOut[c];
  }
  return q;
}

// The JSON string writer behind writeJsonString and writeJsonBlob: z[0, n)
// in double quotes, escaped a chunk at a time straight into the staged
// output.  With bEscapeHigh, bytes from 0x80 up are written as \u00XX so that
// a blob of any bytes still gives valid UTF-8 JSON.
template <bool bEscapeHigh>
void writeJson(StagedOutput& out, const unsigned char* z, size_t n) {
  out.put('"');
  while (n > 0) {
    const size_t nChunk = n < nJsonChunk ? n : nJsonChunk;
    out.commit(escapeJson<bEscapeHigh>(out.room(nChunk * 6 + 32), z, nChunk));
    z += nChunk;
    n -= nChunk;
  }
  out.put('"');
}

}  // namespace

void writeJsonString(StagedOutput& out, const char* z, int n) {
  if (z == nullptr) z = "";
  const size_t nByte = n < 0 ? std::strlen(z) : static_cast<size_t>(n);
  writeJson<false>(out, reinterpret_cast<const unsigned char*>(z), nByte);
}

void writeJsonBlob(StagedOutput& out, const void* pBlob, int nBlob) {
  if (pBlob == nullptr || nBlob < 0) nBlob = 0;
  writeJson<true>(out, static_cast<const unsigned char*>(pBlob), static_cast<size_t>(nBlob));
}

void writeJsonString(FILE* out, const char* z, int n) {
  StagedOutput staged(out);
  writeJsonString(staged, z, n);
}

void writeJsonBlob(FILE* out, const void* pBlob, int nBlob) {
  StagedOutput staged(out);
  writeJsonBlob(staged, pBlob, nBlob);
}

void writeHexBlob(StagedOutput& out, const void* pBlob, int nBlob) {
  const unsigned char* a = static_cast<const unsigned char*>(pBlob);
  if (a == nullptr || nBlob < 0) nBlob = 0;
  out.put("X'", 2);
  const size_t nBytes = static_cast<size_t>(nBlob);
  for (size_t i = 0; i < nBytes;) {
    const size_t nChunk = std::min(nBytes - i, StagedOutput::nRoomMax / 2);
    char* q = out.room(2 * nChunk);
    for (size_t j = i; j < i + nChunk; j++) {
      *q++ = hexDigits[a[j] >> 4];
      *q++ = hexDigits[a[j] & 0xf];
    }
    out.commit(q);
    i += nChunk;
  }
  out.put('\'');
}

void writeHexBlob(FILE* out, const void* pBlob, int nBlob) {
  StagedOutput staged(out);
  writeHexBlob(staged, pBlob, nBlob);
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
