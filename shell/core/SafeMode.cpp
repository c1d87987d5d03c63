#include "shell/core/SafeMode.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

// SQL functions that reach outside the database, refused by name in any case.
constexpr const char* safeModeDeniedFunctions[] = {
    "edit", "fts3_tokenizer", "load_extension", "readfile", "writefile", "zipfile", "zipfile_cds",
};

}  // namespace

void rejectInSafeMode(ShellContext* p, const char* zFormat, ...) {
  if (!p->bSafeActive) return;
  va_list ap;
  va_start(ap, zFormat);
  char* zMsg = sqlite3_vmprintf(zFormat, ap);
  va_end(ap);
  printRaw(stderr, "line %d: ", p->iLineNo);
  printConsole(stderr, "%s\n", zMsg ? zMsg : "");
  std::fflush(stderr);
  std::exit(1);
}

int safeModeAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                       const char* zA4) {
  (void)zA1;
  (void)zA3;
  (void)zA4;
  auto* p = static_cast<ShellContext*>(pCtx);
  switch (eAction) {
    case SQLITE_ATTACH:
      rejectInSafeMode(p, "cannot run ATTACH in safe mode");
      break;
    case SQLITE_FUNCTION:
      for (const char* zName : safeModeDeniedFunctions) {
        if (zA2 != nullptr && sqlite3_stricmp(zA2, zName) == 0) {
          rejectInSafeMode(p, "cannot use the %s() function in safe mode", zName);
        }
      }
      break;
    default:
      break;
  }
  return SQLITE_OK;
}
