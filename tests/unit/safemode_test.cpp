// Safe mode's authorizers and commands in-process: the tracer's exact bytes,
// the action names against the engine's header, what the safe-mode
// authorizer refuses (by ending the process) and what it lets through, and
// .nonce and .auth through the dispatcher.
#include <gtest/gtest.h>

#include <string>

#include "shell/commands/Dispatch.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/SafeMode.h"
#include "tests/unit/execute_fixture.h"

namespace {

// Each action code with its published name, from the engine's own header.
#define ACTION(X) \
  { SQLITE_##X, #X }
const struct {
  int eAction;
  const char* zName;
} actionNames[] = {
    ACTION(CREATE_INDEX),
    ACTION(CREATE_TABLE),
    ACTION(CREATE_TEMP_INDEX),
    ACTION(CREATE_TEMP_TABLE),
    ACTION(CREATE_TEMP_TRIGGER),
    ACTION(CREATE_TEMP_VIEW),
    ACTION(CREATE_TRIGGER),
    ACTION(CREATE_VIEW),
    ACTION(DELETE),
    ACTION(DROP_INDEX),
    ACTION(DROP_TABLE),
    ACTION(DROP_TEMP_INDEX),
    ACTION(DROP_TEMP_TABLE),
    ACTION(DROP_TEMP_TRIGGER),
    ACTION(DROP_TEMP_VIEW),
    ACTION(DROP_TRIGGER),
    ACTION(DROP_VIEW),
    ACTION(INSERT),
    ACTION(PRAGMA),
    ACTION(READ),
    ACTION(SELECT),
    ACTION(TRANSACTION),
    ACTION(UPDATE),
    ACTION(ATTACH),
    ACTION(DETACH),
    ACTION(ALTER_TABLE),
    ACTION(REINDEX),
    ACTION(ANALYZE),
    ACTION(CREATE_VTABLE),
    ACTION(DROP_VTABLE),
    ACTION(FUNCTION),
    ACTION(SAVEPOINT),
    ACTION(RECURSIVE),
};
#undef ACTION

TEST(AuthActionNames, AreThePublishedNamesOfCodes1To33) {
  EXPECT_EQ(std::size(actionNames), 33u);
  for (const auto& a : actionNames) EXPECT_STREQ(authActionName(a.eAction), a.zName);
  EXPECT_STREQ(authActionName(0), "");
  EXPECT_STREQ(authActionName(34), "");
  EXPECT_STREQ(authActionName(-1), "");
}

class SafeMode : public ShellRun {
 protected:
  std::string trace(int eAction, const char* z1, const char* z2, const char* z3, const char* z4) {
    FILE* out = std::tmpfile();
    s.pOut = out;
    EXPECT_EQ(traceAuthorizer(&s, eAction, z1, z2, z3, z4), SQLITE_OK);
    s.pOut = nullptr;
    return readBackAndClose(out);
  }
  // Runs a dot-command line (writable copy), its output discarded, and
  // returns its result.
  int dot(const std::string& zLine) {
    std::string z = zLine;
    FILE* out = std::tmpfile();
    s.pOut = out;
    int rc = runDotCommand(z.data(), &s);
    s.pOut = nullptr;
    std::fclose(out);
    return rc;
  }
};

TEST_F(SafeMode, TraceLineWritesEachArgumentAsACStringOrNull) {
  EXPECT_EQ(trace(SQLITE_READ, "t1", "a", "main", nullptr),
            "authorizer: READ \"t1\" \"a\" \"main\" NULL\n");
  EXPECT_EQ(trace(SQLITE_SELECT, nullptr, nullptr, nullptr, nullptr),
            "authorizer: SELECT NULL NULL NULL NULL\n");
  EXPECT_EQ(trace(SQLITE_INSERT, "a\"b", "c\\d", "e\tf\ng", ""),
            "authorizer: INSERT \"a\\\"b\" \"c\\\\d\" \"e\\tf\\ng\" \"\"\n");
  EXPECT_EQ(trace(SQLITE_FUNCTION, nullptr, "readfile", nullptr, nullptr),
            "authorizer: FUNCTION NULL \"readfile\" NULL NULL\n")
      << "outside safe mode the tracer only traces";
}

using SafeModeDeathTest = SafeMode;

TEST_F(SafeModeDeathTest, RefusesAttachAndTheListedFunctionsInAnyCase) {
  s.bSafeActive = s.bSafePersistent = 1;
  s.iLineNo = 7;
  EXPECT_EXIT(safeModeAuthorizer(&s, SQLITE_ATTACH, "x.db", nullptr, nullptr, nullptr),
              testing::ExitedWithCode(1), "^line 7: cannot run ATTACH in safe mode\n$");
  for (const char* zName : {"edit", "fts3_tokenizer", "load_extension", "readfile", "writefile",
                            "zipfile", "zipfile_cds"}) {
    std::string zUpper = zName;
    for (char& c : zUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string zWant =
        std::string("^line 7: cannot use the ") + zName + "\\(\\) function in safe mode\n$";
    EXPECT_EXIT(safeModeAuthorizer(&s, SQLITE_FUNCTION, nullptr, zUpper.c_str(), nullptr, nullptr),
                testing::ExitedWithCode(1), zWant);
  }
  EXPECT_EXIT(safeModeAuthorizer(&s, SQLITE_READ, "FSDIR", "data", "main", nullptr),
              testing::ExitedWithCode(1),
              "^line 7: cannot use the fsdir\\(\\) function in safe mode\n$");
  // The tracer applies the same rules while safe mode is in force.
  s.pOut = std::tmpfile();
  EXPECT_EXIT(traceAuthorizer(&s, SQLITE_ATTACH, "x.db", nullptr, nullptr, nullptr),
              testing::ExitedWithCode(1), "^line 7: cannot run ATTACH in safe mode\n$");
  std::fclose(s.pOut);
  s.pOut = nullptr;
}

TEST_F(SafeMode, LetsEverythingElseThrough) {
  s.bSafeActive = s.bSafePersistent = 1;
  for (const char* zName : {"upper", "readfiles", "edit_distance", "load", "lsmode", ""}) {
    EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_FUNCTION, nullptr, zName, nullptr, nullptr), SQLITE_OK);
  }
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_FUNCTION, nullptr, nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_READ, "t1", "a", "main", nullptr), SQLITE_OK);
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_DETACH, "x", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_PRAGMA, "table_info", "t", nullptr, nullptr), SQLITE_OK);
  // Lifted by .nonce: nothing is refused.
  s.bSafeActive = 0;
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_ATTACH, "x.db", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(safeModeAuthorizer(&s, SQLITE_FUNCTION, nullptr, "readfile", nullptr, nullptr),
            SQLITE_OK);
}

TEST_F(SafeMode, NonceLiftsSafeModeForTheNextCommandOnly) {
  s.bSafeActive = s.bSafePersistent = 1;
  s.zSafeNonce = strdup("n1");
  s.nOnceCount = 1;
  EXPECT_EQ(dot(".nonce n1"), 0);
  EXPECT_EQ(s.bSafeActive, 0);
  EXPECT_EQ(s.nOnceCount, 1) << "the one-shot countdown is not advanced by .nonce";
  s.nOnceCount = 0;
  EXPECT_EQ(dot(".print x"), 0);
  EXPECT_EQ(s.bSafeActive, 1);
  // A usage error goes through the end-of-command steps: safe mode stays on.
  testing::internal::CaptureStderr();
  EXPECT_EQ(dot(".nonce"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Usage: .nonce NONCE\n");
  EXPECT_EQ(s.bSafeActive, 1);
  std::free(s.zSafeNonce);
  s.zSafeNonce = nullptr;
}

TEST_F(SafeModeDeathTest, WrongOrMissingNonceEndsTheProcess) {
  s.iLineNo = 3;
  EXPECT_EXIT(dot(".nonce n1"), testing::ExitedWithCode(1), "^line 3: incorrect nonce: \"n1\"\n$");
  s.zSafeNonce = strdup("n1");
  EXPECT_EXIT(dot(".nonce N1"), testing::ExitedWithCode(1), "^line 3: incorrect nonce: \"N1\"\n$");
  EXPECT_EXIT(dot(".nonce n1x"), testing::ExitedWithCode(1),
              "^line 3: incorrect nonce: \"n1x\"\n$");
  std::free(s.zSafeNonce);
  s.zSafeNonce = nullptr;
}

TEST_F(SafeMode, AuthOnTracesUntilAuthOff) {
  s.pConn = &s.aConn[0];
  EXPECT_EQ(dot(".auth on"), 0);
  EXPECT_EQ(run("SELECT 1"), "authorizer: SELECT NULL NULL NULL NULL\n1\n");
  EXPECT_EQ(dot(".auth off"), 0);
  EXPECT_EQ(run("SELECT 1"), "1\n");
}

TEST_F(SafeMode, OpeningAgainKeepsTheTracerUnderSafeMode) {
  s.bSafeActive = s.bSafePersistent = 1;
  EXPECT_EQ(dot(".auth on"), 0);
  openDatabase(&s, 0);  // as before every chunk of SQL
  EXPECT_EQ(run("SELECT 2"), "authorizer: SELECT NULL NULL NULL NULL\n2\n");
  EXPECT_EQ(dot(".auth off"), 0);
  openDatabase(&s, 0);
  EXPECT_EQ(run("SELECT 3"), "3\n");
}

}  // namespace
