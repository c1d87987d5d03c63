#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace {

class DisplayCommands : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.pOut = stdout;
    std::strcpy(zSavedMain, zMainPrompt);
    std::strcpy(zSavedCont, zContPrompt);
  }
  void TearDown() override {
    std::free(ctx.aColWidth);
    std::strcpy(zMainPrompt, zSavedMain);
    std::strcpy(zContPrompt, zSavedCont);
  }
  // Runs a handler on the words of a command line.
  int run(int (*xHandler)(ShellContext*, int, char**), std::initializer_list<const char*> az) {
    std::vector<std::string> aWord(az.begin(), az.end());
    std::vector<char*> azArg;
    for (auto& z : aWord) azArg.push_back(z.data());
    azArg.push_back(nullptr);
    return xHandler(&ctx, static_cast<int>(aWord.size()), azArg.data());
  }
  ShellContext ctx;
  char zSavedMain[nSepSize];
  char zSavedCont[nSepSize];
};

TEST_F(DisplayCommands, PromptKeepsNineteenBytes) {
  EXPECT_EQ(run(doPrompt, {"prompt", "A> "}), 0);
  EXPECT_STREQ(zMainPrompt, "A> ");
  EXPECT_EQ(run(doPrompt, {"prompt", "1234567890123456789012345", "c> ", "ignored"}), 0);
  EXPECT_STREQ(zMainPrompt, "1234567890123456789");
  EXPECT_STREQ(zContPrompt, "c> ");
  EXPECT_EQ(run(doPrompt, {"prompt"}), 0);
  EXPECT_STREQ(zMainPrompt, "1234567890123456789");
}

TEST_F(DisplayCommands, WidthStoresClearsAndKeepsBothHalvesInOneAllocation) {
  EXPECT_EQ(run(doWidth, {"width", "5", "-10", "0", "2K"}), 0);
  ASSERT_EQ(ctx.nColWidth, 4);
  EXPECT_EQ(ctx.aColWidth[0], 5);
  EXPECT_EQ(ctx.aColWidth[1], -10);
  EXPECT_EQ(ctx.aColWidth[2], 0);
  EXPECT_EQ(ctx.aColWidth[3], 2000);
  EXPECT_EQ(ctx.aWidthNow, ctx.aColWidth + 4);
  EXPECT_EQ(run(doWidth, {"width"}), 0);
  EXPECT_EQ(ctx.nColWidth, 0);
  EXPECT_EQ(ctx.aWidthNow, ctx.aColWidth);
}

TEST_F(DisplayCommands, ExplainRemembersTheModeBeforeIt) {
  ctx.eMode = OutputMode::Box;
  ctx.bAutoExplain = 1;
  EXPECT_EQ(run(doExplain, {"explain"}), 0);
  EXPECT_EQ(ctx.eMode, OutputMode::Explain);
  EXPECT_EQ(ctx.bAutoExplain, 0);
  EXPECT_EQ(run(doExplain, {"explain", "on"}), 0);  // already on: the saved mode stays
  EXPECT_EQ(ctx.eModeBeforeExplain, OutputMode::Box);
  EXPECT_EQ(run(doExplain, {"explain", "2"}), 0);
  EXPECT_EQ(ctx.eMode, OutputMode::Explain);
  EXPECT_EQ(run(doExplain, {"explain", "auto"}), 0);
  EXPECT_EQ(ctx.eMode, OutputMode::Box);
  EXPECT_EQ(ctx.bAutoExplain, 1);
}

}  // namespace
