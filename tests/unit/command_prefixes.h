// The check that commands added to the dispatcher take no abbreviation from
// an earlier command: every prefix of every command's name must select
// what it selected before the new rows, and a prefix that selected nothing
// may select only a new row.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "shell/commands/Dispatch.h"

namespace command_prefixes {

// Whether the row takes zWord, as the dispatcher decides.
inline bool rowTakes(const DotCommandRow& row, const std::string& zWord) {
  if (row.eRule == MatchRule::Exact) return zWord == row.zName;
  return !zWord.empty() && zWord[0] == row.zName[0] &&
         static_cast<int>(zWord.size()) >= row.nMinLength &&
         zWord.size() <= std::strlen(row.zName) &&
         std::strncmp(zWord.c_str(), row.zName, zWord.size()) == 0;
}

// earlier: what a word selected before the new rows; isNew: whether a row is one of them.
inline void expectNoAbbreviationTaken(
    const std::function<const DotCommandRow*(const std::string&)>& earlier,
    const std::function<bool(const DotCommandRow&)>& isNew) {
  std::vector<std::string> azWord;
  for (auto rows : {dotCommandRows(), terminalCommandRows()}) {
    for (const DotCommandRow& row : rows) {
      for (size_t n = 1; n <= std::strlen(row.zName); n++) azWord.emplace_back(row.zName, n);
    }
  }
  for (const std::string& zWord : azWord) {
    SCOPED_TRACE(zWord);
    const DotCommandRow* pBefore = earlier(zWord);
    const DotCommandRow* pNow = findDotCommand(zWord.c_str());
    if (pBefore != nullptr) {
      EXPECT_EQ(pNow, pBefore) << (pNow ? pNow->zName : "");
    } else if (pNow != nullptr) {
      EXPECT_TRUE(isNew(*pNow)) << pNow->zName;
    }
  }
}

}  // namespace command_prefixes
