// The JSON input of `.import --json`: one array of objects, or one object per
// line, split into elements without holding more than one element in memory.
// The elements themselves are parsed by the engine's JSON functions.
#pragma once

#include "shell/commands/ImportReader.h"

// Where the reader is in the document.
struct ImportJsonState {
  int eFormat = 0;        // 0 not yet known, 1 an array, 2 one element per line
  int iElement = 0;       // number of the last element read, from 1
  int iStartLine = 0;     // line where the last element began
  int cFirst = 0;         // its first byte
  bool bDone = false;     // the document has ended (or cannot be read on)
  bool bFatal = false;    // it ended at an error after which nothing can be read
  bool bBetween = false;  // the last error is between elements (iStartLine is its line)
};

enum class JsonElementResult {
  Element,  // an element is in zField (nField bytes, zero-terminated)
  End,      // the document ended cleanly
  Error,    // *pzError says why; the element is skipped, and reading goes on unless bFatal
};

// Reads the next element into the reader's field buffer.  Errors: a byte that
// is not UTF-8, an element beyond the field cap, input that ends inside an
// element, and for an array a missing comma or bytes after its end.
JsonElementResult readJsonElement(ImportReader* p, ImportJsonState* s, const char** pzError);

// Whether the n bytes at z are UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(const unsigned char* z, size_t n);
