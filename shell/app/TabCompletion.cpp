// Tab completion.  Dot-command names come from the dispatcher's own rows and
// their argument words from the help table, so completion cannot propose what
// the shell would refuse; table names, connection slots and file names come
// where a command takes them.  In SQL, the statement reader tells what the
// statement expects at the cursor (a table after FROM, a column of the
// tables the statement names after WHERE, a column of the aliased table
// after "alias.", a keyword elsewhere) and the names come from the catalog.
#include "shell/app/TabCompletion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "shell/app/SchemaCatalog.h"
#include "shell/app/StatementReader.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ShellContext.h"

namespace {

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

void sortUnique(std::vector<std::string>& a) {
  std::sort(a.begin(), a.end());
  a.erase(std::unique(a.begin(), a.end()), a.end());
}

// The keywords that begin with zPrefix, in the case it was typed in.
std::vector<std::string> keywordCandidates(std::string_view zPrefix) {
  std::vector<std::string> aWords;
  const int nKeyword = sqlite3_keyword_count();
  for (int i = 0; i < nKeyword; i++) {
    const char* z = nullptr;
    int n = 0;
    if (sqlite3_keyword_name(i, &z, &n) != SQLITE_OK) continue;
    std::string_view zWord(z, static_cast<size_t>(n));
    if (startsWithNoCase(zWord, zPrefix)) aWords.push_back(matchCase(zWord, zPrefix));
  }
  sortUnique(aWords);
  return aWords;
}

// Names with a reserved prefix (the engine's tables, the pragma functions)
// are proposed only when asked for by that prefix.
bool reservedNameWanted(std::string_view zName, std::string_view zPrefix) {
  for (std::string_view zReserved : {std::string_view("sqlite_"), std::string_view("pragma_")}) {
    if (!startsWithNoCase(zName, zReserved)) continue;
    return zPrefix.size() >= 2 &&
           (startsWithNoCase(zReserved, zPrefix) || startsWithNoCase(zPrefix, zReserved));
  }
  return true;
}

// The names that fit the word at the cursor, written as they must be typed.
// A word that opens with a quote completes among the names that need one
// and gets its closing quote; a plain word completes among the plain names,
// so that a quoted name never holds back the common beginning of plain ones.
// Names of the other kind are proposed only when none of the right kind fit.
class NamePicker {
 public:
  NamePicker(std::string_view zPrefix, char cOpenQuote) : zPrefix_(zPrefix), cOpen_(cOpenQuote) {}

  void offer(const std::string& zName) {
    if (zName.empty() || !startsWithNoCase(zName, zPrefix_)) return;
    if (!reservedNameWanted(zName, zPrefix_)) return;
    const bool bNeedsQuote = identQuoteChar(zName.c_str()) != 0;
    if (cOpen_ != 0) {
      (bNeedsQuote ? aFit_ : aOther_).push_back(quoteWith(zName, cOpen_));
    } else if (!bNeedsQuote || zPrefix_.empty()) {
      aFit_.push_back(quotedName(zName));
    } else {
      aOther_.push_back(quotedName(zName));
    }
  }
  void offerAll(const std::vector<std::string>& azNames) {
    for (const std::string& z : azNames) offer(z);
  }
  bool empty() const { return aFit_.empty() && aOther_.empty(); }
  std::vector<std::string> take() {
    std::vector<std::string>& a = aFit_.empty() ? aOther_ : aFit_;
    sortUnique(a);
    return std::move(a);
  }

 private:
  static std::string quoteWith(const std::string& zName, char cOpen) {
    const char cClose = cOpen == '[' ? ']' : cOpen;
    std::string z(1, cOpen);
    for (char c : zName) {
      z += c;
      if (c == cClose && cOpen != '[') z += c;
    }
    z += cClose;
    return z;
  }
  std::string_view zPrefix_;
  char cOpen_;
  std::vector<std::string> aFit_;
  std::vector<std::string> aOther_;
};

// The tables, views and table-valued functions one may name after FROM, and
// the schemas (to be followed by a dot).
void offerTables(SchemaCatalog& catalog, const CursorPlace& place, NamePicker* pPicker) {
  for (const CatalogSchema& schema : catalog.aSchemas) {
    for (const CatalogObject& object : schema.aObjects) {
      if (object.eKind != CatalogKind::Index) pPicker->offer(object.zName);
    }
  }
  for (const CatalogObject& object : catalog.aFunctions) pPicker->offer(object.zName);
  for (const CommonTable& cte : place.names.aCommonTables) pPicker->offer(cte.zName);
}

void offerSchemaTables(const CatalogSchema& schema, NamePicker* pPicker) {
  for (const CatalogObject& object : schema.aObjects) {
    if (object.eKind != CatalogKind::Index) pPicker->offer(object.zName);
  }
}

bool sameName(std::string_view zA, std::string_view zB) {
  return zA.size() == zB.size() && startsWithNoCase(zA, zB);
}

// The columns of what zName stands for in the statement: a common table of
// its WITH clause, or a table of the catalog.  False when it is neither.
bool offerColumnsOf(const CompletionSource& source, SchemaCatalog& catalog,
                    const CursorPlace& place, std::string_view zSchema, std::string_view zName,
                    NamePicker* pPicker) {
  if (zSchema.empty()) {
    for (const CommonTable& cte : place.names.aCommonTables) {
      if (!sameName(cte.zName, zName)) continue;
      pPicker->offerAll(cte.azColumns);
      return true;
    }
  }
  CatalogObject* pObject = findCatalogObject(catalog, zSchema, zName);
  if (pObject == nullptr) return false;
  pPicker->offerAll(catalogColumns(catalog, source.p, *pObject));
  return true;
}

// After "x." or "s.t.": the columns of the table x stands for (an alias, a
// table of the statement or of the catalog), or the tables of the schema x.
void offerQualified(const CompletionSource& source, SchemaCatalog& catalog,
                    const CursorPlace& place, NamePicker* pPicker) {
  const std::vector<std::string>& azQualifier = place.azQualifier;
  if (azQualifier.size() >= 2) {
    offerColumnsOf(source, catalog, place, azQualifier[azQualifier.size() - 2], azQualifier.back(),
                   pPicker);
    return;
  }
  const std::string& zName = azQualifier[0];
  CatalogSchema* pSchema = findCatalogSchema(catalog, zName);
  // Where a table is named, a qualifier is first a schema.
  if (pSchema != nullptr && place.eBaseWants == CursorWants::Table) {
    offerSchemaTables(*pSchema, pPicker);
    return;
  }
  for (const TableReference& ref : place.names.aTables) {
    if (ref.zAlias.empty() || !sameName(ref.zAlias, zName)) continue;
    if (!ref.zName.empty()) offerColumnsOf(source, catalog, place, ref.zSchema, ref.zName, pPicker);
    return;
  }
  for (const TableReference& ref : place.names.aTables) {
    if (!ref.zName.empty() && sameName(ref.zName, zName) &&
        offerColumnsOf(source, catalog, place, ref.zSchema, ref.zName, pPicker)) {
      return;
    }
  }
  if (offerColumnsOf(source, catalog, place, "", zName, pPicker)) return;
  if (pSchema != nullptr) offerSchemaTables(*pSchema, pPicker);
}

// The columns of the tables the statement names; false when it names none
// that is known.
bool offerNamedColumns(const CompletionSource& source, SchemaCatalog& catalog,
                       const CursorPlace& place, NamePicker* pPicker) {
  bool bAny = false;
  for (const TableReference& ref : place.names.aTables) {
    if (ref.zName.empty()) continue;
    bAny = offerColumnsOf(source, catalog, place, ref.zSchema, ref.zName, pPicker) || bAny;
  }
  return bAny;
}

std::vector<std::string> sqlCandidates(const CompletionSource& source, const CursorPlace& place) {
  const bool bQuoted = place.cOpenQuote != 0;
  auto keywords = [&] {
    return bQuoted ? std::vector<std::string>() : keywordCandidates(place.zPrefix);
  };
  if (place.eWants == CursorWants::Nothing) return {};
  if (source.db == nullptr) {
    return place.eWants == CursorWants::Qualified ? std::vector<std::string>() : keywords();
  }
  SchemaCatalog& catalog = schemaCatalog(source.db, source.p, source.nOpened);
  NamePicker picker(place.zPrefix, place.cOpenQuote);
  switch (place.eWants) {
    case CursorWants::Table:
      offerTables(catalog, place, &picker);
      for (const CatalogSchema& schema : catalog.aSchemas) picker.offer(schema.zName);
      return picker.take();
    case CursorWants::Qualified:
      offerQualified(source, catalog, place, &picker);
      return picker.take();
    case CursorWants::Column: {
      const bool bNamed = offerNamedColumns(source, catalog, place, &picker);
      if (!picker.empty()) return picker.take();
      if (!bNamed) picker.offerAll(allCatalogColumns(catalog, source.p));
      if (!picker.empty()) return picker.take();
      std::vector<std::string> aWords = keywords();
      if (!aWords.empty()) return aWords;
      if (bNamed) picker.offerAll(allCatalogColumns(catalog, source.p));
      offerTables(catalog, place, &picker);
      return picker.take();
    }
    default: {
      std::vector<std::string> aWords = keywords();
      if (!aWords.empty()) return aWords;
      offerTables(catalog, place, &picker);
      picker.offerAll(allCatalogColumns(catalog, source.p));
      return picker.take();
    }
  }
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

namespace {

// One word of a dot-command as far as the cursor: where it starts, its text
// without quotes, and the quote that opened it.
struct CommandWord {
  size_t iStart = 0;
  std::string zText;
  char cQuote = 0;
};

// The words of the dot-command line; the last is the word at the cursor
// (empty after a blank).
std::vector<CommandWord> commandWords(std::string_view zLine) {
  std::vector<CommandWord> aWords;
  size_t i = 0;
  while (true) {
    while (i < zLine.size() && (zLine[i] == ' ' || zLine[i] == '\t')) i++;
    CommandWord word;
    word.iStart = i;
    if (i < zLine.size() && (zLine[i] == '"' || zLine[i] == '\'')) {
      word.cQuote = zLine[i++];
      while (i < zLine.size() && zLine[i] != word.cQuote) {
        if (word.cQuote == '"' && zLine[i] == '\\' && i + 1 < zLine.size()) i++;
        word.zText += zLine[i++];
      }
      if (i < zLine.size()) {
        i++;  // the closing quote: the word is finished
        word.cQuote = 0;
      }
    } else {
      while (i < zLine.size() && zLine[i] != ' ' && zLine[i] != '\t') word.zText += zLine[i++];
    }
    const bool bLast = i >= zLine.size();
    aWords.push_back(std::move(word));
    if (bLast) break;
  }
  return aWords;
}

// A name as a dot-command argument: quoted when it holds a blank or a quote.
std::string commandArgument(const std::string& zName, char cQuote) {
  if (cQuote == 0 && zName.find_first_of(" \t\"'\\") == std::string::npos) return zName;
  const char c = cQuote == 0 ? '"' : cQuote;
  std::string z(1, c);
  for (char cByte : zName) {
    if (c == '"' && (cByte == '"' || cByte == '\\')) z += '\\';
    z += cByte;
  }
  z += c;
  return z;
}

enum class ArgumentKind { Words, Tables, Indexes, Slots, OpenSlots };

// What the dot-command takes at its nth argument that is not an option (n
// counts from 0), given the arguments before.
ArgumentKind argumentKind(std::string_view zCommand, const std::vector<CommandWord>& aArgs,
                          size_t nPositional) {
  if (zCommand == "schema" || zCommand == "dump" || zCommand == "indexes" || zCommand == "tables") {
    return ArgumentKind::Tables;
  }
  if (zCommand == "import" && nPositional == 1) return ArgumentKind::Tables;
  if (zCommand == "imposter" && nPositional == 0) return ArgumentKind::Indexes;
  if (zCommand == "mode" && nPositional == 1 && !aArgs.empty() && aArgs[0].zText == "insert") {
    return ArgumentKind::Tables;
  }
  if (zCommand == "connection") {
    if (nPositional == 0) return ArgumentKind::Slots;
    if (nPositional == 1 && aArgs[0].zText == "close") return ArgumentKind::OpenSlots;
  }
  return ArgumentKind::Words;
}

// Options whose value is the next word.
bool takesValue(std::string_view zCommand, std::string_view zOption) {
  if (zCommand == "import") return zOption == "--skip" || zOption == "--schema";
  if (zCommand == "mode") return zOption == "--wrap" || zOption == "-w";
  return false;
}

TabCandidates dotCommandCandidates(const CompletionSource& source, std::string_view zLine) {
  TabCandidates result;
  const std::vector<CommandWord> aWords = commandWords(zLine);
  const CommandWord& word = aWords.back();
  result.iWordStart = word.iStart;
  if (aWords.size() == 1) {
    if (word.zText.empty()) return result;
    for (std::string& z : dotCommandNames(std::string_view(word.zText).substr(1))) {
      result.aWords.push_back("." + z);
    }
    return result;
  }
  if (aWords[0].zText.empty()) return result;
  std::string_view zCommand = commandName(std::string_view(aWords[0].zText).substr(1));
  if (zCommand.empty()) return result;
  const std::vector<CommandWord> aArgs(aWords.begin() + 1, aWords.end() - 1);
  size_t nPositional = 0;
  for (size_t i = 0; i < aArgs.size(); i++) {
    if (aArgs[i].zText.empty() || aArgs[i].zText[0] != '-') {
      nPositional++;
    } else if (takesValue(zCommand, aArgs[i].zText)) {
      i++;
    }
  }
  if (!aArgs.empty() && takesValue(zCommand, aArgs.back().zText)) {
    // The value of an option: the schemas for --schema, nothing else.
    if (aArgs.back().zText == "--schema" && source.db != nullptr) {
      SchemaCatalog& catalog = schemaCatalog(source.db, source.p, source.nOpened);
      for (const CatalogSchema& schema : catalog.aSchemas) {
        if (startsWithNoCase(schema.zName, word.zText)) result.aWords.push_back(schema.zName);
      }
    }
    return result;
  }
  const std::string& zWord = word.zText;
  if (word.cQuote == 0) {
    for (std::string& z : dotCommandArgWords(zCommand)) {
      if (startsWith(z, zWord)) result.aWords.push_back(std::move(z));
    }
  }
  if (!zWord.empty() && zWord[0] == '-') return result;
  switch (argumentKind(zCommand, aArgs, nPositional)) {
    case ArgumentKind::Tables:
    case ArgumentKind::Indexes: {
      if (source.db == nullptr) break;
      const bool bIndexes = argumentKind(zCommand, aArgs, nPositional) == ArgumentKind::Indexes;
      SchemaCatalog& catalog = schemaCatalog(source.db, source.p, source.nOpened);
      // A plain word completes among the names that need no quotes, as in SQL.
      std::vector<std::string> aPlain;
      std::vector<std::string> aQuoted;
      for (const CatalogSchema& schema : catalog.aSchemas) {
        for (const CatalogObject& object : schema.aObjects) {
          const bool bIndex = object.eKind == CatalogKind::Index;
          // An imposter is made on an index or a WITHOUT ROWID table.
          if (bIndex != bIndexes && !(bIndexes && object.eKind == CatalogKind::Table)) continue;
          if (!startsWithNoCase(object.zName, zWord)) continue;
          if (!reservedNameWanted(object.zName, zWord)) continue;
          std::string zArg = commandArgument(object.zName, word.cQuote);
          (zArg[0] == '"' || zArg[0] == '\'' ? aQuoted : aPlain).push_back(std::move(zArg));
        }
      }
      if (zWord.empty()) aPlain.insert(aPlain.end(), aQuoted.begin(), aQuoted.end());
      std::vector<std::string>& aNames = aPlain.empty() ? aQuoted : aPlain;
      sortUnique(aNames);
      for (std::string& z : aNames) result.aWords.push_back(std::move(z));
      return result;
    }
    case ArgumentKind::Slots:
    case ArgumentKind::OpenSlots: {
      if (source.p == nullptr) break;
      const bool bOpenOnly = argumentKind(zCommand, aArgs, nPositional) == ArgumentKind::OpenSlots;
      if (!bOpenOnly && startsWith("close", zWord)) result.aWords.emplace_back("close");
      const size_t nSlots = sizeof(source.p->aConn) / sizeof(source.p->aConn[0]);
      for (size_t i = 0; i < nSlots; i++) {
        const ShellConn& conn = source.p->aConn[i];
        if (&conn == source.p->pConn) continue;
        if (bOpenOnly && conn.db == nullptr) continue;
        std::string zSlot = std::to_string(i);
        if (startsWith(zSlot, zWord)) result.aWords.push_back(std::move(zSlot));
      }
      return result;
    }
    case ArgumentKind::Words:
      break;
  }
  if (dotCommandTakesFile(zCommand) && word.cQuote == 0) {
    std::vector<std::string> aFiles = fileNameCandidates(zWord);
    if (!aFiles.empty()) {
      result.bFileNames = result.aWords.empty();
      for (std::string& z : aFiles) result.aWords.push_back(std::move(z));
    }
  }
  return result;
}

}  // namespace

TabCandidates tabCandidates(const CompletionSource& source, std::string_view zPending,
                            std::string_view zLine, size_t iCursor) {
  iCursor = std::min(iCursor, zLine.size());
  if (zPending.empty() && !zLine.empty() && zLine[0] == '.') {
    // Before the dot there is nothing to complete.
    if (iCursor == 0) return {};
    return dotCommandCandidates(source, zLine.substr(0, iCursor));
  }
  // SQL: the whole statement, earlier lines and the rest of this one included.
  std::string zText(zPending);
  if (!zText.empty()) zText += '\n';
  const size_t iLineStart = zText.size();
  zText += zLine;
  CursorPlace place = readCursorPlace(zText, iLineStart + iCursor);
  TabCandidates result;
  if (place.iWordStart < iLineStart) return result;  // a word begun on an earlier line
  result.iWordStart = place.iWordStart - iLineStart;
  result.aWords = sqlCandidates(source, place);
  return result;
}

TabCandidates tabCandidates(sqlite3* db, std::string_view zPending, std::string_view zLine) {
  CompletionSource source;
  source.db = db;
  return tabCandidates(source, zPending, zLine, zLine.size());
}
