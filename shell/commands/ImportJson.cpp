#include "shell/commands/ImportJson.h"

#include <array>
#include <cstring>

#include "shell/core/ShellContext.h"

namespace {

inline int nextByte(ImportReader* p) {
  if (p->iBlock < p->nBlock || importRefill(p)) return p->aBlock[p->iBlock++];
  return -1;
}

inline int peekByte(ImportReader* p) {
  if (p->iBlock < p->nBlock || importRefill(p)) return p->aBlock[p->iBlock];
  return -1;
}

inline bool isJsonSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Bytes that end a run of plain bytes inside a string, and outside one.
constexpr std::array<bool, 256> stopTable(const char* zStops) {
  std::array<bool, 256> a{};
  for (const char* z = zStops; *z; z++) a[static_cast<unsigned char>(*z)] = true;
  return a;
}
constexpr std::array<bool, 256> aStopInString = stopTable("\"\\\n");
constexpr std::array<bool, 256> aStopOutside = stopTable("\"{}[]\n,");

// Length of the run of unread bytes of the block that are not stops.
inline size_t runLength(const ImportReader* p, const std::array<bool, 256>& aStop) {
  const unsigned char* s = p->aBlock + p->iBlock;
  const unsigned char* e = p->aBlock + p->nBlock;
  const unsigned char* q = s;
  while (q < e && !aStop[*q]) ++q;
  return static_cast<size_t>(q - s);
}

// Skips blanks; the first byte after them, not consumed (-1 at the end).
int skipSpace(ImportReader* p) {
  for (;;) {
    const int c = peekByte(p);
    if (!isJsonSpace(c)) return c;
    if (c == '\n') p->iLine++;
    p->iBlock++;
  }
}

// Reads one value starting with byte c (already consumed) into zField.  A
// container or string is read to its end; a bare value to the next comma,
// bracket, brace or blank.  False when the input ends inside it.
bool readValue(ImportReader* p, int c) {
  appendFieldByte(p, c);
  int nDepth = 0;
  bool bInString = false;
  if (c == '"') {
    bInString = true;
  } else if (c == '{' || c == '[') {
    nDepth = 1;
  } else {
    // A bare value: a number, true, false, null or garbage.
    for (;;) {
      const int d = peekByte(p);
      if (d < 0 || isJsonSpace(d) || d == ',' || d == ']' || d == '}' || d == '[' || d == '{') {
        return true;
      }
      appendFieldByte(p, d);
      p->iBlock++;
    }
  }
  for (;;) {
    const size_t n = runLength(p, bInString ? aStopInString : aStopOutside);
    if (n > 0) {
      appendImportBytes(p, p->aBlock + p->iBlock, n);
      p->iBlock += n;
    }
    const int d = nextByte(p);
    if (d < 0) return false;
    appendFieldByte(p, d);
    if (d == '\n') p->iLine++;
    if (bInString) {
      if (d == '\\') {
        const int e = nextByte(p);
        if (e < 0) return false;
        if (e == '\n') p->iLine++;
        appendFieldByte(p, e);
      } else if (d == '"') {
        bInString = false;
        if (nDepth == 0) return true;
      }
    } else if (d == '"') {
      bInString = true;
    } else if (d == '{' || d == '[') {
      nDepth++;
    } else if (d == '}' || d == ']') {
      if (--nDepth == 0) return true;
    }
  }
}

void startElement(ImportReader* p, ImportJsonState* s, int c) {
  p->nField = 0;
  p->bFieldTooLong = false;
  s->iElement++;
  s->iStartLine = p->iLine;
  s->cFirst = c;
}

JsonElementResult finishElement(ImportReader* p, const char** pzError) {
  appendFieldByte(p, 0);
  p->nField--;
  if (p->bFieldTooLong) {
    *pzError = "element too long";
    return JsonElementResult::Error;
  }
  if (!isValidUtf8(reinterpret_cast<const unsigned char*>(p->zField),
                   static_cast<size_t>(p->nField))) {
    *pzError = "invalid UTF-8";
    return JsonElementResult::Error;
  }
  return JsonElementResult::Element;
}

// An error in the array around the elements: reported at the line where it is.
JsonElementResult fatal(ImportReader* p, ImportJsonState* s, const char** pzError,
                        const char* zError) {
  s->bDone = s->bFatal = s->bBetween = true;
  s->iStartLine = p->iLine;
  *pzError = zError;
  return JsonElementResult::Error;
}

// One element per line: the line, blanks around it aside.
JsonElementResult readLineElement(ImportReader* p, ImportJsonState* s, const char** pzError) {
  int c = skipSpace(p);
  if (c < 0 || nInterrupts) {
    s->bDone = true;
    return JsonElementResult::End;
  }
  startElement(p, s, c);
  static constexpr std::array<bool, 256> aStopLine = stopTable("\n");
  for (;;) {
    const size_t n = runLength(p, aStopLine);
    if (n > 0) {
      appendImportBytes(p, p->aBlock + p->iBlock, n);
      p->iBlock += n;
    }
    c = nextByte(p);
    if (c < 0) break;
    if (c == '\n') {
      p->iLine++;
      break;
    }
    appendFieldByte(p, c);  // the run ended at the end of a block
  }
  while (p->nField > 0 && isJsonSpace(static_cast<unsigned char>(p->zField[p->nField - 1]))) {
    p->nField--;
  }
  return finishElement(p, pzError);
}

JsonElementResult readArrayElement(ImportReader* p, ImportJsonState* s, const char** pzError) {
  int c = skipSpace(p);
  if (c < 0) return fatal(p, s, pzError, "unterminated array: ']' missing at the end");
  if (c == ']') {
    p->iBlock++;
    c = skipSpace(p);
    s->bDone = true;
    if (c >= 0) return fatal(p, s, pzError, "bytes after the end of the array");
    return JsonElementResult::End;
  }
  if (s->iElement > 0) {
    // Before every element but the first, a comma.
    if (c != ',') return fatal(p, s, pzError, "',' or ']' expected after the element before");
    p->iBlock++;
    c = skipSpace(p);
    if (c < 0) return fatal(p, s, pzError, "unterminated array: ']' missing at the end");
  }
  if (c == ']' || c == ',') return fatal(p, s, pzError, "an element is missing");
  p->iBlock++;
  startElement(p, s, c);
  if (!readValue(p, c)) {
    s->bDone = s->bFatal = true;
    *pzError = "the input ends inside this element";
    return JsonElementResult::Error;
  }
  return finishElement(p, pzError);
}

}  // namespace

bool isValidUtf8(const unsigned char* z, size_t n) {
  size_t i = 0;
  while (i < n) {
    // Eight bytes at a time while they are ASCII.
    while (i + 8 <= n) {
      unsigned long long w;
      std::memcpy(&w, z + i, 8);
      if (w & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    const unsigned c = z[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t nMore;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
      nMore = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      nMore = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      nMore = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= nMore) return false;
    for (size_t k = 1; k <= nMore; k++) {
      if ((z[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (z[i + k] & 0x3F);
    }
    if ((nMore == 2 && cp < 0x800) || (nMore == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += nMore + 1;
  }
  return true;
}

JsonElementResult readJsonElement(ImportReader* p, ImportJsonState* s, const char** pzError) {
  *pzError = nullptr;
  s->bBetween = false;
  if (s->bDone || nInterrupts) return JsonElementResult::End;
  if (s->eFormat == 0) {
    // A byte-order mark is not part of the document.
    // The bytes of a partial one cannot begin UTF-8 text.
    if (peekByte(p) == 0xEF) {
      p->iBlock++;
      if (nextByte(p) != 0xBB || nextByte(p) != 0xBF) {
        s->eFormat = 2;
        return fatal(p, s, pzError, "invalid UTF-8");
      }
    }
    const int c = skipSpace(p);
    if (c == '[') {
      p->iBlock++;
      s->eFormat = 1;
    } else {
      s->eFormat = 2;
    }
  }
  return s->eFormat == 1 ? readArrayElement(p, s, pzError) : readLineElement(p, s, pzError);
}
