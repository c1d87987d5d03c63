#include "shell/commands/ImportReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"

namespace {

constexpr int cQuote = '"';
constexpr int cNone = -2;  // "no previous byte" in the quoted-field scan

int maxField(const ImportReader* p) {
  return p->nMaxField > 0 ? p->nMaxField : nImportMaxField;
}

// Makes room for nNeed bytes plus the terminator.  Grows the way
// appendFieldByte does (twice the old size plus 100), never beyond the cap.
void growField(ImportReader* p, sqlite3_int64 nNeed) {
  if (nNeed < p->nFieldAlloc) return;
  sqlite3_int64 nNew = 2 * static_cast<sqlite3_int64>(p->nFieldAlloc) + 100;
  if (nNew <= nNeed) nNew = nNeed + 1;
  const sqlite3_int64 nLimit = static_cast<sqlite3_int64>(maxField(p)) + 1;
  if (nNew > nLimit) nNew = nLimit;
  char* zNew = static_cast<char*>(sqlite3_realloc64(p->zField, static_cast<sqlite3_uint64>(nNew)));
  checkAlloc(zNew);
  p->zField = zNew;
  p->nFieldAlloc = static_cast<int>(nNew);
}

void appendFieldBytes(ImportReader* p, const unsigned char* z, size_t n) {
  const int nMax = maxField(p);
  if (static_cast<sqlite3_int64>(n) > nMax - p->nField) {
    p->bFieldTooLong = true;
    n = static_cast<size_t>(nMax - p->nField);
    if (n == 0) return;
  }
  growField(p, p->nField + static_cast<sqlite3_int64>(n));
  std::memcpy(p->zField + p->nField, z, n);
  p->nField += static_cast<int>(n);
}

void terminateField(ImportReader* p) {
  growField(p, p->nField);
  p->zField[p->nField] = 0;
}

// Reads up to nWant bytes from the stream's descriptor, returning what is
// there as soon as anything is (a slow command's output is taken as it
// comes).  Waiting is done in short polls so that Ctrl-C, which does not
// interrupt a restarted read, still stops the import.  0 at the end of input,
// after Ctrl-C and on a read error.
size_t readInput(ImportReader* p, unsigned char* a, size_t nWant) {
  const int fd = fileno(p->pInput);
  if (fd < 0) return std::fread(a, 1, nWant, p->pInput);  // a stream without a descriptor
  for (;;) {
    if (nInterrupts) return 0;
    struct pollfd pfd = {fd, POLLIN, 0};
    const int nReady = poll(&pfd, 1, 200);
    if (nReady == 0 || (nReady < 0 && errno == EINTR)) continue;
    const ssize_t n = read(fd, a, nWant);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
}

// Loads the next block of the stream; false at its end (or on a read error).
bool refill(ImportReader* p) {
  if (p->bInputDone || p->pInput == nullptr) {
    p->bInputDone = true;
    return false;
  }
  if (!p->bBlockOwned) {
    p->aBlock = static_cast<unsigned char*>(checkAlloc(sqlite3_malloc64(nImportBlockSize)));
    p->bBlockOwned = true;
  }
  const size_t nWant = p->nBlockSize > 0 && static_cast<size_t>(p->nBlockSize) < nImportBlockSize
                           ? static_cast<size_t>(p->nBlockSize)
                           : nImportBlockSize;
  const size_t n = readInput(p, const_cast<unsigned char*>(p->aBlock), nWant);
  p->iBlock = 0;
  p->nBlock = n;
  if (n == 0) {
    p->bInputDone = true;
    return false;
  }
  return true;
}

inline int nextByte(ImportReader* p) {
  if (p->iBlock < p->nBlock || refill(p)) return p->aBlock[p->iBlock++];
  return -1;
}

// Length of the run of unread bytes in the block that are none of a, b, c.
inline size_t runLength(const ImportReader* p, int a, int b, int c) {
  if (p->iBlock >= p->nBlock) return 0;
  const unsigned char* s = p->aBlock + p->iBlock;
  const unsigned char* e = p->aBlock + p->nBlock;
  const unsigned char* q = s;
  while (q < e && *q != a && *q != b && *q != c) ++q;
  return static_cast<size_t>(q - s);
}

// Common start of both readers: false (with iTerm -1) at the end of input or
// after Ctrl-C.  Otherwise *pc holds the first byte of the field.
bool startField(ImportReader* p, int* pc) {
  p->nField = 0;
  p->bFieldTooLong = false;
  p->bFieldHasNul = false;
  if (nInterrupts) {
    p->iTerm = -1;
    return false;
  }
  *pc = nextByte(p);
  if (*pc < 0) {
    p->iTerm = -1;
    return false;
  }
  return true;
}

char* finishField(ImportReader* p, int cTerm) {
  p->iTerm = cTerm;
  terminateField(p);
  p->bStarted = 1;
  return p->zField;
}

// The rest of a quoted field, after its opening quote.
void readQuotedField(ImportReader* p) {
  const int cSep = p->iColSep;
  const int rSep = p->iRowSep;
  const int iStartLine = p->iLine;
  int pc = cNone;   // previous byte stored
  int ppc = cNone;  // the one before it
  for (;;) {
    if (pc != cQuote) {
      // Bytes other than a quote and the row separator are stored as they are.
      const size_t n = runLength(p, cQuote, rSep, 0);
      if (n > 0) {
        const unsigned char* z = p->aBlock + p->iBlock;
        appendFieldBytes(p, z, n);
        ppc = n >= 2 ? z[n - 2] : pc;
        pc = z[n - 1];
        p->iBlock += n;
      }
    }
    const int c = nextByte(p);
    if (c == rSep) p->iLine++;
    if (c == cQuote && pc == cQuote) {
      pc = cNone;
      continue;
    }
    if ((pc == cQuote && (c == cSep || c == rSep || c < 0)) ||
        (c == rSep && pc == '\r' && ppc == cQuote)) {
      // Drop the closing quote and a carriage return after it.
      if (!p->bFieldTooLong) {
        while (p->nField > 0 && p->zField[--p->nField] != cQuote) {
        }
      }
      p->iTerm = c;
      return;
    }
    if (pc == cQuote && c != '\r' && !p->bQuiet) {
      printConsole(stderr, "%s:%d: unescaped %c character\n", p->zSourceName, p->iLine, cQuote);
    }
    if (c < 0) {
      if (!nInterrupts && !p->bQuiet) {  // after Ctrl-C the input was cut, not the quote left open
        printConsole(stderr, "%s:%d: unterminated %c-quoted field\n", p->zSourceName, iStartLine,
                     cQuote);
      }
      p->iTerm = -1;
      return;
    }
    if (c == 0) p->bFieldHasNul = true;
    appendFieldByte(p, c);
    ppc = pc;
    pc = c;
  }
}

// Stores bytes from c on up to a separator or the end of input; returns the
// byte that ended the field (-1 at the end of input).
int readPlainBytes(ImportReader* p, int c) {
  const int cSep = p->iColSep;
  const int rSep = p->iRowSep;
  while (c >= 0 && c != cSep && c != rSep) {
    if (c == 0) p->bFieldHasNul = true;
    appendFieldByte(p, c);
    const size_t n = runLength(p, cSep, rSep, 0);
    if (n > 0) {
      appendFieldBytes(p, p->aBlock + p->iBlock, n);
      p->iBlock += n;
    }
    c = nextByte(p);
  }
  return c;
}

}  // namespace

void appendFieldByte(ImportReader* p, int c) {
  if (p->nField >= maxField(p)) {
    p->bFieldTooLong = true;
    return;
  }
  if (p->nField + 1 >= p->nFieldAlloc) growField(p, p->nField + 1);
  p->zField[p->nField++] = static_cast<char>(c);
}

char* readCsvField(ImportReader* p) {
  int c;
  if (!startField(p, &c)) return nullptr;
  if (c == cQuote) {
    readQuotedField(p);
    return finishField(p, p->iTerm);
  }
  if (!p->bStarted && c == 0xEF) {
    appendFieldByte(p, c);
    c = nextByte(p);
    if (c == 0xBB) {
      appendFieldByte(p, c);
      c = nextByte(p);
      if (c == 0xBF) {
        // A UTF-8 byte-order mark: not part of the data.
        p->bStarted = 1;
        return readCsvField(p);
      }
    }
  }
  c = readPlainBytes(p, c);
  if (c >= 0 && c == p->iRowSep) {
    p->iLine++;
    if (p->nField > 0 && p->zField[p->nField - 1] == '\r') p->nField--;
  }
  return finishField(p, c);
}

char* readAsciiField(ImportReader* p) {
  int c;
  if (!startField(p, &c)) return nullptr;
  c = readPlainBytes(p, c);
  if (c >= 0 && c == p->iRowSep) p->iLine++;
  return finishField(p, c);
}

void closeImportReader(ImportReader* p) {
  if (p->pInput && p->xCloseInput) p->xCloseInput(p->pInput);
  p->pInput = nullptr;
  sqlite3_free(p->zField);
  p->zField = nullptr;
  p->nField = p->nFieldAlloc = 0;
  if (p->bBlockOwned) sqlite3_free(const_cast<unsigned char*>(p->aBlock));
  p->aBlock = nullptr;
  p->bBlockOwned = false;
  p->iBlock = p->nBlock = 0;
}

void setImportMemoryInput(ImportReader* p, const void* z, size_t n) {
  if (p->bBlockOwned) sqlite3_free(const_cast<unsigned char*>(p->aBlock));
  p->aBlock = static_cast<const unsigned char*>(z);
  p->bBlockOwned = false;
  p->iBlock = 0;
  p->nBlock = n;
  p->bInputDone = true;
}

long long importInputOffset(const ImportReader* p) {
  const long long nUnread = static_cast<long long>(p->nBlock - p->iBlock);
  if (p->pInput == nullptr) return p->bBlockOwned ? -1 : static_cast<long long>(p->iBlock);
  const off_t iPos = lseek(fileno(p->pInput), 0, SEEK_CUR);
  if (iPos < 0 || iPos < nUnread) return -1;
  return static_cast<long long>(iPos) - nUnread;
}

bool seekImportInput(ImportReader* p, long long iOffset) {
  if (iOffset < 0) return false;
  if (p->pInput == nullptr) {
    // Memory input: the whole of it is the block.
    if (p->bBlockOwned || static_cast<unsigned long long>(iOffset) > p->nBlock) return false;
    p->iBlock = static_cast<size_t>(iOffset);
    return true;
  }
  if (lseek(fileno(p->pInput), static_cast<off_t>(iOffset), SEEK_SET) < 0) return false;
  p->iBlock = p->nBlock = 0;
  p->bInputDone = false;
  return true;
}

bool copyImportInput(ImportReader* p, FILE* pTo) {
  for (;;) {
    if (p->iBlock < p->nBlock) {
      const size_t n = p->nBlock - p->iBlock;
      if (std::fwrite(p->aBlock + p->iBlock, 1, n, pTo) != n) return false;
      p->iBlock = p->nBlock;
    }
    if (!refill(p)) break;
  }
  return nInterrupts == 0 && std::fflush(pTo) == 0;
}

bool importRefill(ImportReader* p) {
  return refill(p);
}

void appendImportBytes(ImportReader* p, const unsigned char* z, size_t n) {
  appendFieldBytes(p, z, n);
}
