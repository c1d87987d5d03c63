// A fixture for tests of .import run in-process: a shell state on an in-memory
// database, a scratch folder, and the table read back in a typed notation.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace import_fixture {

class ImportFixture : public testing::Test {
 protected:
  void SetUp() override {
    bSaved = bStdinIsTty;
    bStdinIsTty = 0;
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.eMode = ctx.eModeNow = OutputMode::List;
    ctx.pConn = &ctx.aConn[0];
    setSettingText(ctx.zColSep, "|");
    setSettingText(ctx.zRowSep, "\n");
    char zDir[] = "/tmp/import_fixture_XXXXXX";
    dir = mkdtemp(zDir);
    ASSERT_EQ(sqlite3_open(":memory:", &ctx.db), SQLITE_OK);
  }
  void TearDown() override {
    bStdinIsTty = bSaved;
    sqlite3_close(ctx.db);
    std::filesystem::remove_all(dir);
  }

  std::string writeFile(const std::string& name, const std::string& body) {
    const std::string zPath = dir + "/" + name;
    FILE* f = std::fopen(zPath.c_str(), "wb");
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
    return zPath;
  }

  int run(std::vector<std::string> words, std::string* pzErr = nullptr) {
    words.insert(words.begin(), ".import");
    std::vector<char*> azArg;
    for (auto& w : words) azArg.push_back(w.data());
    azArg.push_back(nullptr);
    char* zOut = nullptr;
    size_t nOut = 0;
    ctx.pOut = open_memstream(&zOut, &nOut);
    testing::internal::CaptureStderr();
    const int rc = doImport(&ctx, static_cast<int>(words.size()), azArg.data());
    const std::string zErr = testing::internal::GetCapturedStderr();
    if (pzErr) *pzErr = zErr;
    std::fclose(ctx.pOut);
    ctx.pOut = nullptr;
    std::free(zOut);
    return rc;
  }

  std::string declaredTypes(const std::string& table) {
    std::string z;
    StmtPtr pStmt = prepareStmt(
        ctx.db, ("SELECT type FROM pragma_table_info('" + table + "') ORDER BY cid").c_str());
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      if (!z.empty()) z += ' ';
      z += reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    }
    return z;
  }

  // Every cell, row by row, in the oracle's notation; a real is "r:" and the
  // expected text when it equals the expected double exactly.
  std::vector<std::string> cells(const std::string& table, const std::vector<const char*>& aWant) {
    std::vector<std::string> a;
    StmtPtr pStmt = prepareStmt(ctx.db, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str());
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(pStmt.get()); i++) {
        sqlite3_stmt* s = pStmt.get();
        switch (sqlite3_column_type(s, i)) {
          case SQLITE_NULL:
            a.emplace_back("N");
            break;
          case SQLITE_INTEGER:
            a.emplace_back("i:" + std::to_string(sqlite3_column_int64(s, i)));
            break;
          case SQLITE_FLOAT: {
            const double r = sqlite3_column_double(s, i);
            const size_t k = a.size();
            if (k < aWant.size() && std::strncmp(aWant[k], "r:", 2) == 0 &&
                std::strtod(aWant[k] + 2, nullptr) == r) {
              a.emplace_back(aWant[k]);
            } else {
              char zBuf[64];
              std::snprintf(zBuf, sizeof zBuf, "r:%a (%.17g)", r, r);
              a.emplace_back(zBuf);
            }
            break;
          }
          default:
            a.emplace_back("t:" +
                           std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                                       static_cast<size_t>(sqlite3_column_bytes(s, i))));
        }
      }
    }
    return a;
  }

  ShellContext ctx;
  std::string dir;
  int bSaved = 1;
};

}  // namespace import_fixture
