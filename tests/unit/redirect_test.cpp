#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"

namespace {

// Sets or removes an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* zName, const char* zValue) : zName_(zName) {
    const char* z = std::getenv(zName);
    bHad_ = z != nullptr;
    if (z) zOld_ = z;
    if (zValue) {
      setenv(zName, zValue, 1);
    } else {
      unsetenv(zName);
    }
  }
  ~EnvVar() {
    if (bHad_) {
      setenv(zName_, zOld_.c_str(), 1);
    } else {
      unsetenv(zName_);
    }
  }

 private:
  const char* zName_;
  bool bHad_ = false;
  std::string zOld_;
};

class Redirect : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.pOut = stdout;
    ctx.pConn = &ctx.aConn[0];
    char zTemplate[] = "/tmp/redirect-test-XXXXXX";
    ASSERT_NE(mkdtemp(zTemplate), nullptr);
    zDir = zTemplate;
  }
  void TearDown() override {
    sqlite3_free(ctx.zTmpFile);
    if (ctx.db) sqlite3_close(ctx.db);
    std::string zCmd = "rm -rf '" + zDir + "'";
    ASSERT_EQ(std::system(zCmd.c_str()), 0);
  }
  ShellContext ctx;
  std::string zDir;
};

TEST_F(Redirect, OpenOutputStreamNamesAndFailures) {
  EXPECT_EQ(openOutputStream("stdout", false), stdout);
  EXPECT_EQ(openOutputStream("stderr", false), stderr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(openOutputStream("off", false), nullptr);
  std::string zMissing = zDir + "/no/such/file";
  EXPECT_EQ(openOutputStream(zMissing.c_str(), false), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: cannot open \"" + zMissing + "\"\n");
  FILE* f = openOutputStream((zDir + "/out.txt").c_str(), true);
  ASSERT_NE(f, nullptr);
  closeOutputStream(f);
  closeOutputStream(stdout);
  EXPECT_NE(std::fputs("", stdout), EOF);  // standard output is still open
}

TEST_F(Redirect, TempNamesFollowTheEnvironment) {
  struct Case {
    const char* zTmpdir;
    const char* zTemp;
    const char* zTmp;
    std::string zPrefix;
  } cases[] = {
      {"/x/tmpdir", "/x/temp", "/x/tmp", "/x/temp/temp"},
      {"/x/tmpdir", nullptr, "/x/tmp", "/x/tmp/temp"},
      {"/x/tmpdir", nullptr, nullptr, "/x/tmpdir/temp"},
      {nullptr, nullptr, nullptr, "/tmp/temp"},
  };
  for (const auto& c : cases) {
    EnvVar a("TMPDIR", c.zTmpdir), b("TEMP", c.zTemp), d("TMP", c.zTmp);
    makeTempFileName(&ctx, "csv");
    std::string z = ctx.zTmpFile;
    EXPECT_EQ(z.rfind(c.zPrefix, 0), 0u) << z;
    ASSERT_GT(z.size(), c.zPrefix.size() + 4);
    EXPECT_EQ(z.substr(z.size() - 4), ".csv");
    std::string zHex = z.substr(c.zPrefix.size(), z.size() - c.zPrefix.size() - 4);
    EXPECT_EQ(zHex.find_first_not_of("0123456789abcdef"), std::string::npos) << z;
  }
  // With a connection open the engine names the file.
  ASSERT_EQ(sqlite3_open(":memory:", &ctx.db), SQLITE_OK);
  makeTempFileName(&ctx, "txt");
  std::string z = ctx.zTmpFile;
  EXPECT_EQ(z.substr(z.size() - 4), ".txt");
}

TEST_F(Redirect, DiscardWaitsForTheViewer) {
  EnvVar a("TEMP", zDir.c_str());
  makeTempFileName(&ctx, "csv");
  std::string zName = ctx.zTmpFile;
  FILE* f = std::fopen(zName.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ctx.bLaunchViewer = 1;
  discardTempFile(&ctx);
  EXPECT_EQ(access(zName.c_str(), F_OK), 0);
  ctx.bLaunchViewer = 0;
  discardTempFile(&ctx);
  EXPECT_NE(access(zName.c_str(), F_OK), 0);
  EXPECT_EQ(ctx.zTmpFile, nullptr);
}

TEST_F(Redirect, ViewerThatCannotStartIsReportedAndModeRestored) {
  EnvVar a("PATH", zDir.c_str());  // no opener anywhere on PATH
  EnvVar b("TEMP", (zDir + "/a b").c_str());
  ctx.eMode = OutputMode::Box;
  saveOutputMode(&ctx);
  ctx.eMode = OutputMode::Csv;
  makeTempFileName(&ctx, "csv");
  ctx.bLaunchViewer = 1;
  std::string zName = ctx.zTmpFile;
  testing::internal::CaptureStderr();
  restoreOutput(&ctx);
  std::string zErr = testing::internal::GetCapturedStderr();
  // A name with a blank is quoted for the command processor.
  EXPECT_NE(zErr.find("Failed: [xdg-open '" + zName + "']\n"), std::string::npos) << zErr;
  EXPECT_EQ(ctx.eMode, OutputMode::Box);
  EXPECT_EQ(ctx.bLaunchViewer, 0);
  EXPECT_EQ(ctx.pOut, stdout);
  EXPECT_STREQ(ctx.zOutName, "");
}

TEST_F(Redirect, OpenInputFileTakesFilesNotDirectories) {
  std::string zFile = zDir + "/in.sql";
  FILE* f = std::fopen(zFile.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  FILE* g = openInputFile(zFile.c_str());
  EXPECT_NE(g, nullptr);
  if (g) std::fclose(g);
  EXPECT_EQ(openInputFile(zDir.c_str()), nullptr);
  EXPECT_EQ(openInputFile((zDir + "/missing").c_str()), nullptr);
  FILE* h = openInputFile("/dev/null");
  EXPECT_NE(h, nullptr);
  if (h) std::fclose(h);
}

}  // namespace
