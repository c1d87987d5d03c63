#include "shell/core/SqlText.h"

#include <cstring>

#include "shell/core/Output.h"

void writeSqlStringKeepLineFeeds(FILE* out, const char* z) {
  if (z == nullptr) z = "";
  if (std::strchr(z, '\r') == nullptr) {
    writeSqlString(out, z);
    return;
  }
  char zBuf[20];
  const char* zCR = findUnusedMarker(z, "\\r", "\\015", zBuf);
  setBinaryOutput(out, false);
  fputs_unlocked("replace('", out);
  while (*z) {
    const size_t n = std::strcspn(z, "'\r");
    fwrite_unlocked(z, 1, n, out);
    z += n;
    if (*z == 0) break;
    fputs_unlocked(*z == '\'' ? "''" : zCR, out);
    z++;
  }
  fputs_unlocked("','", out);
  fputs_unlocked(zCR, out);
  fputs_unlocked("',char(13))", out);
  setTextOutput(out, false);
}

void writeSqlText(FILE* out, const char* z, size_t n, bool bLiteralNewlines) {
  if (z != nullptr && std::memchr(z, 0, n) != nullptr) {
    // A quoted literal ends at the NUL.  The blob's bytes are taken as text
    // in the database's encoding, UTF-8 unless the script's reader says
    // otherwise, which is the encoding the bytes are in.
    fputs_unlocked("CAST(", out);
    writeHexBlob(out, z, static_cast<int>(n));
    fputs_unlocked(" AS TEXT)", out);
  } else if (bLiteralNewlines) {
    writeSqlStringKeepLineFeeds(out, z);
  } else {
    writeSqlStringEscaped(out, z);
  }
}
