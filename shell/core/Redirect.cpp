// Placeholder output destinations: only standard output exists until
// redirection is built.
#include "shell/core/Redirect.h"

#include "shell/core/ShellContext.h"

FILE* openOutputStream(const char* zFile, bool bTextMode) {
  if (safeCompare(zFile, "stdout") == 0) return stdout;
  if (safeCompare(zFile, "stderr") == 0) return stderr;
  if (safeCompare(zFile, "off") == 0) return nullptr;
  FILE* f = std::fopen(zFile, bTextMode ? "w" : "wb");
  if (f == nullptr) std::fprintf(stderr, "Error: cannot open \"%s\"\n", zFile);
  return f;
}

void closeOutputStream(FILE* f) {
  if (f && f != stdout && f != stderr) std::fclose(f);
}

void restoreOutput(ShellContext* p) {
  closeOutputStream(p->pOut);
  p->pOut = stdout;
  p->zOutName[0] = 0;
}

void makeTempFileName(ShellContext*, const char*) {}

void discardTempFile(ShellContext*) {}

FILE* openInputFile(const char* zName) {
  return std::fopen(zName, "rb");
}
