#include "shell/exec/Expert.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

#include "advisor/Advisor.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

IndexAdvisor* armedAdvisor(ShellContext* p) {
  return static_cast<IndexAdvisor*>(p->expert.pExpert);
}

// True when zArg (at least two characters) begins the option zName.
bool abbreviates(const char* zArg, const char* zName) {
  const size_t n = std::strlen(zArg);
  return n >= 2 && n <= std::strlen(zName) && std::strncmp(zArg, zName, n) == 0;
}

}  // namespace

int feedExpert(ShellContext* p, const char* zSql, char** pzErr) {
  return advisorAddSql(armedAdvisor(p), zSql, pzErr);
}

int closeExpert(ShellContext* p, bool bCancel, char** pzErr) {
  IndexAdvisor* pAdvisor = armedAdvisor(p);
  int rc = SQLITE_OK;
  if (!bCancel) {
    rc = advisorAnalyze(pAdvisor, pzErr);
    if (rc == SQLITE_OK) {
      const std::string zReport = advisorReportText(pAdvisor, p->expert.bVerbose != 0);
      std::fwrite(zReport.data(), 1, zReport.size(), p->pOut);
    }
  }
  advisorFree(pAdvisor);
  p->expert.pExpert = nullptr;
  return rc;
}

int armExpert(ShellContext* p, char** azArg, int nArg) {
  p->expert = ExpertState{};
  int rc = 0;
  int iSample = 0;
  for (int i = 1; rc == 0 && i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] == '-' && z[1] == '-') z++;
    if (abbreviates(z, "-verbose")) {
      p->expert.bVerbose = 1;
    } else if (abbreviates(z, "-sample")) {
      if (i == nArg - 1) {
        printRaw(stderr, "option requires an argument: %s\n", z);
        rc = 1;
      } else {
        iSample = static_cast<int>(parseIntegerArg(azArg[++i]));
        if (iSample < 0 || iSample > 100) {
          printRaw(stderr, "value out of range: %s\n", azArg[i]);
          rc = 1;
        }
      }
    } else {
      printRaw(stderr, "unknown option: %s\n", z);
      rc = 1;
    }
  }
  if (rc != 0) return rc;
  char* zErr = nullptr;
  IndexAdvisor* pAdvisor = sqlite3_expert_new(p->db, &zErr);
  if (pAdvisor == nullptr) {
    printRaw(stderr, "sqlite3_expert_new: %s\n", zErr ? zErr : "out of memory");
    sqlite3_free(zErr);
    return 1;
  }
  sqlite3_free(zErr);
  p->expert.pExpert = pAdvisor;
  advisorConfig(pAdvisor, ADVISOR_CONFIG_SAMPLE, iSample);
  return 0;
}
