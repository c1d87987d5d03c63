#include "shell/core/SqlText.h"

#include <cstring>

#include "shell/core/Output.h"

void writeSqlStringKeepLineFeeds(StagedOutput& out, const char* z) {
  if (z == nullptr) z = "";
  if (std::strchr(z, '\r') == nullptr) {
    writeSqlString(out, z);
    return;
  }
  char zBuf[20];
  const char* zCR = findUnusedMarker(z, "\\r", "\\015", zBuf);
  out.put("replace('", 9);
  while (*z) {
    const size_t n = std::strcspn(z, "'\r");
    out.put(z, n);
    z += n;
    if (*z == 0) break;
    out.put(*z == '\'' ? "''" : zCR);
    z++;
  }
  out.put("','", 3);
  out.put(zCR);
  out.put("',char(13))", 11);
}

void writeSqlStringKeepLineFeeds(FILE* out, const char* z) {
  writeLiteralTo(out, [z](StagedOutput& staged) { writeSqlStringKeepLineFeeds(staged, z); });
}

void writeSqlText(StagedOutput& out, const char* z, size_t n, bool bLiteralNewlines) {
  if (z != nullptr && std::memchr(z, 0, n) != nullptr) {
    // A quoted literal ends at the NUL.  The blob's bytes are taken as text
    // in the database's encoding, UTF-8 unless the script's reader says
    // otherwise, which is the encoding the bytes are in.
    out.put("CAST(", 5);
    writeHexBlob(out, z, static_cast<int>(n));
    out.put(" AS TEXT)", 9);
  } else if (bLiteralNewlines) {
    writeSqlStringKeepLineFeeds(out, z);
  } else {
    writeSqlStringEscaped(out, z);
  }
}

void writeSqlText(FILE* out, const char* z, size_t n, bool bLiteralNewlines) {
  StagedOutput staged(out);
  writeSqlText(staged, z, n, bLiteralNewlines);
}
