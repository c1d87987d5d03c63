// Tab completion.  Dot-command names come from the dispatcher's own rows and
// their argument words from the help table, so completion cannot propose what
// the shell would refuse.  SQL words come from the `completion` table of the
// current connection and are ranked by what the words before the cursor ask
// for: a table after FROM, a column after WHERE, a keyword elsewhere.
#include "shell/app/TabCompletion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ext/completion/Completion.h"
#include "shell/app/InputLoop.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ShellContext.h"

namespace {

bool isWordByte(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isLowerWord(std::string_view z) {
  if (z.empty() || !std::islower(static_cast<unsigned char>(z[0]))) return false;
  return std::all_of(z.begin(), z.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) ||
           std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
}

bool startsWith(std::string_view z, std::string_view zPrefix) {
  return z.substr(0, zPrefix.size()) == zPrefix;
}

bool startsWithNoCase(std::string_view z, std::string_view zPrefix) {
  if (z.size() < zPrefix.size()) return false;
  for (size_t i = 0; i < zPrefix.size(); i++) {
    if (std::tolower(static_cast<unsigned char>(z[i])) !=
        std::tolower(static_cast<unsigned char>(zPrefix[i]))) {
      return false;
    }
  }
  return true;
}

void addUnique(std::vector<std::string>& a, std::string_view z) {
  if (std::find(a.begin(), a.end(), z) == a.end()) a.emplace_back(z);
}

// The help entry of a command: its usage text (the words after the name up to
// the description) and its detail lines.
struct HelpEntry {
  std::string_view zUsage;
  std::vector<std::string_view> azDetail;
};

HelpEntry findHelpEntry(std::string_view zCommand) {
  HelpEntry entry;
  bool bInside = false;
  // The terminal's commands have their entries in a table of their own.
  std::vector<const char*> azLines(helpLines, helpLines + nHelpLines);
  azLines.insert(azLines.end(), terminalHelpLines, terminalHelpLines + nTerminalHelpLines);
  for (const char* zHelp : azLines) {
    std::string_view z(zHelp);
    if (!z.empty() && z[0] == '.') {
      if (bInside) break;
      std::string_view zName = z.substr(
          1, z.find(' ') == std::string_view::npos ? std::string_view::npos : z.find(' ') - 1);
      if (zName != zCommand) continue;
      bInside = true;
      std::string_view zRest = z.substr(1 + zName.size());
      size_t iDesc = zRest.find("  ");
      entry.zUsage = zRest.substr(0, iDesc);
      continue;
    }
    if (bInside) entry.azDetail.push_back(z);
  }
  return entry;
}

std::string_view trimLeft(std::string_view z) {
  while (!z.empty() && (z[0] == ' ' || z[0] == '\t')) z.remove_prefix(1);
  return z;
}

// Splits z at the byte c.
std::vector<std::string_view> splitAt(std::string_view z, char c) {
  std::vector<std::string_view> a;
  while (true) {
    size_t i = z.find(c);
    a.push_back(z.substr(0, i));
    if (i == std::string_view::npos) break;
    z.remove_prefix(i + 1);
  }
  return a;
}

// The full name of the command the word selects, or empty.
std::string_view commandName(std::string_view zWord) {
  std::string zCopy(zWord);
  const DotCommandRow* pRow = findDotCommand(zCopy.c_str());
  if (pRow == nullptr || pRow->xHandler == nullptr) return {};
  return pRow->zName;
}

// Keywords typed in lower case are proposed in lower case.
std::string matchCase(std::string_view zWord, std::string_view zTyped) {
  std::string z(zWord);
  bool bLower = !zTyped.empty() && std::none_of(zTyped.begin(), zTyped.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c));
  });
  if (bLower) {
    for (char& c : z) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return z;
}

std::string quotedName(const std::string& zName) {
  char cQuote = identQuoteChar(zName.c_str());
  if (cQuote == 0) return zName;
  std::string z(1, cQuote);
  for (char c : zName) {
    z += c;
    if (c == cQuote) z += c;
  }
  z += cQuote;
  return z;
}

enum class SqlContext { Anything, Table, Column, Qualified };

// Words after which a table name is expected.
constexpr std::array tableWords{"FROM", "JOIN", "INTO", "UPDATE", "TABLE", "REFERENCES"};
// Words after which an expression (so a column) is expected.
constexpr std::array columnWords{
    "SELECT", "WHERE", "AND",      "OR",   "ON",   "SET",     "BY", "HAVING", "WHEN",     "THEN",
    "ELSE",   "NOT",   "DISTINCT", "LIKE", "GLOB", "BETWEEN", "IS", "CASE",   "RETURNING"};

template <size_t N>
bool isOneOf(std::string_view zWord, const std::array<const char*, N>& aWords) {
  for (const char* z : aWords) {
    if (zWord.size() == std::strlen(z) && startsWithNoCase(zWord, z)) return true;
  }
  return false;
}

// What the text before the word asks for.
SqlContext sqlContext(std::string_view zBefore) {
  if (!zBefore.empty() && zBefore.back() == '.') return SqlContext::Qualified;
  size_t i = zBefore.size();
  while (i > 0 && std::isspace(static_cast<unsigned char>(zBefore[i - 1]))) i--;
  if (i == 0) return SqlContext::Anything;
  char c = zBefore[i - 1];
  if (!isWordByte(c)) {
    return std::strchr(",(=<>!+-*/%|", c) != nullptr ? SqlContext::Column : SqlContext::Anything;
  }
  size_t iEnd = i;
  while (i > 0 && isWordByte(zBefore[i - 1])) i--;
  std::string_view zPrev = zBefore.substr(i, iEnd - i);
  if (isOneOf(zPrev, tableWords)) return SqlContext::Table;
  if (isOneOf(zPrev, columnWords)) return SqlContext::Column;
  return SqlContext::Anything;
}

// The completion table's phases (the numbers its phase column reports).
constexpr int phaseKeywords = 1;
constexpr int phaseDatabases = 7;
constexpr int phaseTables = 8;
constexpr int phaseColumns = 9;

struct SqlWords {
  std::vector<std::string> aKeywords, aDatabases, aTables, aColumns;
};

void keywordsOnly(std::string_view zPrefix, SqlWords* pWords) {
  const int nKeyword = sqlite3_keyword_count();
  for (int i = 0; i < nKeyword; i++) {
    const char* z = nullptr;
    int n = 0;
    if (sqlite3_keyword_name(i, &z, &n) != SQLITE_OK) continue;
    std::string_view zWord(z, static_cast<size_t>(n));
    if (startsWithNoCase(zWord, zPrefix)) pWords->aKeywords.emplace_back(zWord);
  }
}

void sqlWords(sqlite3* db, const std::string& zPrefix, const std::string& zWhole,
              SqlWords* pWords) {
  static constexpr const char* zQuery = "SELECT candidate, phase FROM completion(?1, ?2)";
  StmtPtr pStmt;
  if (db != nullptr) {
    pStmt = prepareStmt(db, zQuery);
    // A connection that does not have the table yet gets it here.
    if (!pStmt && completionRegister(db) == SQLITE_OK) pStmt = prepareStmt(db, zQuery);
  }
  if (!pStmt) {
    keywordsOnly(zPrefix, pWords);
    return;
  }
  sqlite3_bind_text(pStmt.get(), 1, zPrefix.data(), static_cast<int>(zPrefix.size()),
                    SQLITE_STATIC);
  sqlite3_bind_text(pStmt.get(), 2, zWhole.data(), static_cast<int>(zWhole.size()), SQLITE_STATIC);
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    if (z == nullptr || z[0] == 0) continue;
    switch (sqlite3_column_int(pStmt.get(), 1)) {
      case phaseKeywords:
        pWords->aKeywords.emplace_back(z);
        break;
      case phaseDatabases:
        pWords->aDatabases.emplace_back(z);
        break;
      case phaseTables:
        // The engine's own tables only when asked for by name.
        if (std::strncmp(z, "sqlite_", 7) != 0 ||
            (zPrefix.size() >= 2 &&
             (startsWithNoCase("sqlite_", zPrefix) || startsWithNoCase(zPrefix, "sqlite_")))) {
          pWords->aTables.emplace_back(z);
        }
        break;
      case phaseColumns:
        pWords->aColumns.emplace_back(z);
        break;
      default:
        break;
    }
  }
}

void sortUnique(std::vector<std::string>& a) {
  std::sort(a.begin(), a.end());
  a.erase(std::unique(a.begin(), a.end()), a.end());
}

void appendNames(std::vector<std::string>& aOut, std::vector<std::string>& aNames) {
  sortUnique(aNames);
  for (const std::string& z : aNames) addUnique(aOut, quotedName(z));
}

std::vector<std::string> sqlCandidates(sqlite3* db, std::string_view zBefore,
                                       std::string_view zPrefix) {
  SqlWords words;
  std::string zWhole(zBefore);
  zWhole += zPrefix;
  sqlWords(db, std::string(zPrefix), zWhole, &words);
  std::vector<std::string> aOut;
  auto addKeywords = [&] {
    sortUnique(words.aKeywords);
    for (const std::string& z : words.aKeywords) addUnique(aOut, matchCase(z, zPrefix));
  };
  switch (sqlContext(zBefore)) {
    case SqlContext::Table:
      appendNames(aOut, words.aTables);
      appendNames(aOut, words.aDatabases);
      break;
    case SqlContext::Qualified:
      appendNames(aOut, words.aTables);
      appendNames(aOut, words.aColumns);
      break;
    case SqlContext::Column:
      appendNames(aOut, words.aColumns);
      if (aOut.empty()) {
        addKeywords();
        appendNames(aOut, words.aTables);
      }
      break;
    case SqlContext::Anything:
      addKeywords();
      if (aOut.empty()) {
        appendNames(aOut, words.aTables);
        appendNames(aOut, words.aColumns);
      }
      break;
  }
  return aOut;
}

}  // namespace

std::vector<std::string> dotCommandNames(std::string_view zPrefix) {
  std::vector<std::string> aNames;
  for (auto rows : {dotCommandRows(), terminalCommandRows()}) {
    for (const DotCommandRow& row : rows) {
      if (row.xHandler == nullptr) continue;
      if (startsWith(row.zName, zPrefix)) addUnique(aNames, row.zName);
    }
  }
  std::sort(aNames.begin(), aNames.end());
  return aNames;
}

std::vector<std::string> dotCommandArgWords(std::string_view zCommand) {
  std::vector<std::string> aWords;
  HelpEntry entry = findHelpEntry(zCommand);
  // Alternatives in the usage line: "on|off", "?on|off|auto?", "?-all?".
  for (std::string_view zToken : splitAt(entry.zUsage, ' ')) {
    while (!zToken.empty() && zToken.front() == '?') zToken.remove_prefix(1);
    while (!zToken.empty() && zToken.back() == '?') zToken.remove_suffix(1);
    if (zToken.empty()) continue;
    if (zToken[0] == '-') {
      addUnique(aWords, zToken);
      continue;
    }
    if (zToken.find('|') == std::string_view::npos) continue;
    for (std::string_view zAlt : splitAt(zToken, '|')) {
      std::string zLower(zAlt);
      for (char& c : zLower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (zLower == "on" || zLower == "off" || isLowerWord(zAlt)) addUnique(aWords, zLower);
    }
  }
  // Detail lines that begin with a switch or a sub-command laid out in a column.
  for (std::string_view zLine : entry.azDetail) {
    zLine = trimLeft(zLine);
    size_t iSpace = zLine.find(' ');
    std::string_view zFirst = zLine.substr(0, iSpace);
    std::string_view zRest = iSpace == std::string_view::npos ? "" : zLine.substr(iSpace);
    if (!zFirst.empty() && zFirst[0] == '-') {
      for (std::string_view zAlt : splitAt(zFirst, '|')) {
        if (!zAlt.empty() && zAlt[0] == '-') addUnique(aWords, zAlt);
      }
    } else if (isLowerWord(zFirst) &&
               (startsWith(zRest, "  ") ||
                (zRest.size() > 1 && std::isupper(static_cast<unsigned char>(zRest[1]))))) {
      addUnique(aWords, zFirst);
    }
  }
  return aWords;
}

bool dotCommandTakesFile(std::string_view zCommand) {
  HelpEntry entry = findHelpEntry(zCommand);
  auto namesFile = [](std::string_view z) {
    return z.find("FILE") != std::string_view::npos || z.find("NEWDB") != std::string_view::npos ||
           z.find("DIRECTORY") != std::string_view::npos;
  };
  if (namesFile(entry.zUsage)) return true;
  for (std::string_view zLine : entry.azDetail) {
    zLine = trimLeft(zLine);
    if (startsWith(zLine, "FILE ")) return true;
  }
  return false;
}

std::vector<std::string> fileNameCandidates(std::string_view zWord) {
  std::vector<std::string> aNames;
  if (!zWord.empty() && zWord[0] == '|') return aNames;
  size_t iSlash = zWord.rfind('/');
  std::string_view zDirPart = iSlash == std::string_view::npos ? "" : zWord.substr(0, iSlash + 1);
  std::string_view zBase = zWord.substr(zDirPart.size());
  std::string zDir(zDirPart.empty() ? "." : zDirPart);
  if (startsWith(zDir, "~/")) {
    const char* zHome = std::getenv("HOME");
    if (zHome != nullptr) zDir = std::string(zHome) + zDir.substr(1);
  }
  DIR* pDir = opendir(zDir.c_str());
  if (pDir == nullptr) return aNames;
  while (const dirent* pEntry = readdir(pDir)) {
    std::string_view zName(pEntry->d_name);
    if (zName == "." || zName == "..") continue;
    if (zName[0] == '.' && (zBase.empty() || zBase[0] != '.')) continue;
    if (!startsWith(zName, zBase)) continue;
    std::string zFull(zDirPart);
    zFull += zName;
    bool bDir = pEntry->d_type == DT_DIR;
    if (pEntry->d_type == DT_UNKNOWN || pEntry->d_type == DT_LNK) {
      struct stat st;
      std::string zPath = zDir + "/" + std::string(zName);
      bDir = stat(zPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (bDir) zFull += '/';
    aNames.push_back(std::move(zFull));
  }
  closedir(pDir);
  std::sort(aNames.begin(), aNames.end());
  return aNames;
}

TabCandidates tabCandidates(sqlite3* db, std::string_view zPending, std::string_view zLine) {
  TabCandidates result;
  if (zPending.empty()) {
    size_t iFirst = 0;
    while (iFirst < zLine.size() && std::isspace(static_cast<unsigned char>(zLine[iFirst]))) {
      iFirst++;
    }
    if (iFirst == 0 && !zLine.empty() && zLine[0] == '.') {
      // A dot-command: words are separated by blanks.
      size_t iWord = zLine.find_last_of(" \t");
      iWord = iWord == std::string_view::npos ? 0 : iWord + 1;
      result.iWordStart = iWord;
      std::string_view zWord = zLine.substr(iWord);
      if (iWord == 0) {
        for (std::string& z : dotCommandNames(zWord.substr(1))) result.aWords.push_back("." + z);
        return result;
      }
      std::string_view zCmdWord = zLine.substr(1, zLine.find_first_of(" \t") - 1);
      std::string_view zCommand = commandName(zCmdWord);
      if (zCommand.empty()) return result;
      for (std::string& z : dotCommandArgWords(zCommand)) {
        if (startsWith(z, zWord)) result.aWords.push_back(std::move(z));
      }
      if (dotCommandTakesFile(zCommand) && (zWord.empty() || zWord[0] != '-')) {
        std::vector<std::string> aFiles = fileNameCandidates(zWord);
        if (!aFiles.empty()) {
          result.bFileNames = result.aWords.empty();
          for (std::string& z : aFiles) result.aWords.push_back(std::move(z));
        }
      }
      return result;
    }
  }
  // SQL: not inside a string, a quoted name or a comment.
  std::string zBefore(zPending);
  if (!zBefore.empty()) zBefore += '\n';
  size_t iWord = zLine.size();
  while (iWord > 0 && isWordByte(zLine[iWord - 1])) iWord--;
  result.iWordStart = iWord;
  zBefore += zLine.substr(0, iWord);
  if ((scanLine(zBefore.c_str(), 0) & 0xff) != 0) return result;
  result.aWords = sqlCandidates(db, zBefore, zLine.substr(iWord));
  return result;
}
