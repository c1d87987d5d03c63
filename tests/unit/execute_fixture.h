// A shell record on an in-memory connection whose output goes to a temporary
// file, for running SQL through runStatements and comparing the bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/exec/Parameters.h"

class ShellRun : public testing::Test {
 protected:
  // The record as initShellContext leaves it.  The engine keeps the address of
  // the record it was configured with (for its log callback), so that one
  // lives as long as the process and each test starts from a copy.
  static const ShellContext& initialRecord() {
    static ShellContext initial;
    static bool bDone = false;
    if (!bDone) {
      testing::internal::CaptureStdout();
      initShellContext(&initial);
      testing::internal::GetCapturedStdout();
      bDone = true;
    }
    return initial;
  }

  void SetUp() override {
    s = initialRecord();
    s.pConn = &s.aConn[0];
    ASSERT_EQ(sqlite3_open(":memory:", &s.db), SQLITE_OK);
  }
  void TearDown() override {
    setInsertTable(&s, nullptr);
    planClear(&s);
    clearExplainIndent(&s);
    sqlite3_close(s.db);
  }

  void setMode(OutputMode eMode, const char* zColSep = nullptr, const char* zRowSep = nullptr) {
    s.eMode = eMode;
    if (zColSep) setSettingText(s.zColSep, zColSep);
    if (zRowSep) setSettingText(s.zRowSep, zRowSep);
  }

  // Runs zSql and returns everything written to pOut; the result code and the
  // error text go to *pRc and *pErr when given.
  std::string run(const char* zSql, int* pRc = nullptr, std::string* pErr = nullptr) {
    FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    s.pOut = out;
    char* zErr = nullptr;
    int rc = runStatements(&s, zSql, &zErr);
    if (pRc) *pRc = rc;
    if (pErr) *pErr = zErr ? zErr : "";
    sqlite3_free(zErr);
    s.pOut = nullptr;
    return readBackAndClose(out);
  }

  // Everything written to a temporary file, which is then closed.
  static std::string readBackAndClose(FILE* out) {
    std::fflush(out);
    std::rewind(out);
    std::string result;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), out)) > 0) result.append(buf, n);
    std::fclose(out);
    return result;
  }

  // Runs SQL that must succeed and produce no output (set-up statements).
  void exec(const char* zSql) {
    char* zErr = nullptr;
    ASSERT_EQ(sqlite3_exec(s.db, zSql, nullptr, nullptr, &zErr), SQLITE_OK) << (zErr ? zErr : "");
  }

  ShellContext s{};
};
