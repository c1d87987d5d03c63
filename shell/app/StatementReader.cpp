// The statement reader behind Tab completion.  The tokenizer follows the
// engine's lexical rules closely enough to find names, strings and comments;
// the grammar is only what finding table references needs: the words that
// introduce a table (FROM, JOIN, UPDATE, INTO, TABLE), an optional schema
// prefix, arguments of a table-valued function, and an alias.
#include "shell/app/StatementReader.h"

#include <sqlite3.h>

#include <array>
#include <cctype>
#include <cstring>

namespace {

bool isNameStart(unsigned char c) {
  return std::isalpha(c) != 0 || c == '_' || c >= 0x80;
}

bool isNameByte(unsigned char c) {
  return isNameStart(c) || std::isdigit(c) != 0 || c == '$';
}

bool sameWord(std::string_view zWord, const char* zKeyword) {
  const size_t n = std::strlen(zKeyword);
  return zWord.size() == n && sqlite3_strnicmp(zWord.data(), zKeyword, static_cast<int>(n)) == 0;
}

template <size_t N>
bool isOneOf(std::string_view zWord, const std::array<const char*, N>& azWords) {
  for (const char* z : azWords) {
    if (sameWord(zWord, z)) return true;
  }
  return false;
}

// The byte that closes a quote opened by c.
char closingQuote(char c) {
  return c == '[' ? ']' : c;
}

// Reads the quoted text that opens at z[i]; returns the offset after its
// closing quote, or npos when the text ends first.
size_t readQuoted(std::string_view z, size_t i, std::string* pzName) {
  const char cClose = closingQuote(z[i]);
  const bool bDoubles = z[i] != '[';
  for (size_t j = i + 1; j < z.size(); j++) {
    if (z[j] != cClose) {
      if (pzName != nullptr) *pzName += z[j];
      continue;
    }
    if (bDoubles && j + 1 < z.size() && z[j + 1] == cClose) {
      if (pzName != nullptr) *pzName += cClose;
      j++;
      continue;
    }
    return j + 1;
  }
  return std::string_view::npos;
}

// Words after which a table is named.
constexpr std::array tableWords{"FROM", "JOIN", "INTO", "UPDATE", "TABLE", "REFERENCES"};
// Words after which an expression, so most often a column, comes.
constexpr std::array columnWords{"SELECT", "WHERE",  "AND",     "OR",     "ON",       "SET",
                                 "BY",     "HAVING", "WHEN",    "THEN",   "ELSE",     "NOT",
                                 "IN",     "LIKE",   "GLOB",    "CASE",   "DISTINCT", "RETURNING",
                                 "IS",     "ALL",    "BETWEEN", "REGEXP", "MATCH",    "VALUES"};

bool isKeyword(const SqlToken& t) {
  return t.eKind == SqlTokenKind::Word &&
         sqlite3_keyword_check(t.zName.data(), static_cast<int>(t.zName.size())) != 0;
}

bool isPunct(const SqlToken& t, char c) {
  return t.eKind == SqlTokenKind::Punct && t.iEnd == t.iStart + 1 && t.zName.size() == 1 &&
         t.zName[0] == c;
}

bool isWord(const SqlToken& t, const char* zKeyword) {
  return t.eKind == SqlTokenKind::Word && sameWord(t.zName, zKeyword);
}

bool isName(const SqlToken& t) {
  return t.eKind == SqlTokenKind::Word || t.eKind == SqlTokenKind::QuotedName;
}

// The reader of table references over a range of tokens.
struct NameReader {
  const std::vector<SqlToken>& aTokens;
  size_t iEnd;
  StatementNames names;

  bool at(size_t i, char c) const { return i < iEnd && isPunct(aTokens[i], c); }
  bool atWord(size_t i, const char* z) const { return i < iEnd && isWord(aTokens[i], z); }

  // The offset after the parenthesis that closes the one at i.
  size_t skipParens(size_t i) const {
    int nDepth = 0;
    for (; i < iEnd; i++) {
      if (isPunct(aTokens[i], '(')) nDepth++;
      if (isPunct(aTokens[i], ')') && --nDepth == 0) return i + 1;
    }
    return iEnd;
  }

  // An alias at i ("AS name" or a name that is not a keyword); returns the
  // offset after it.
  size_t readAlias(size_t i, std::string* pzAlias) const {
    bool bAs = atWord(i, "AS");
    if (bAs) i++;
    if (i >= iEnd || !isName(aTokens[i])) return i;
    if (!bAs && isKeyword(aTokens[i])) return i;
    *pzAlias = aTokens[i].zName;
    return i + 1;
  }

  // Skips the parentheses that open at i, reading the tables named inside
  // (a subquery, or a table-valued function's arguments).
  size_t readInside(size_t i) {
    const size_t iClose = skipParens(i);
    NameReader inner{aTokens, iClose, {}};
    inner.readAll(i + 1);
    for (TableReference& ref : inner.names.aTables) names.aTables.push_back(std::move(ref));
    for (CommonTable& c : inner.names.aCommonTables) names.aCommonTables.push_back(std::move(c));
    return iClose;
  }

  // One table reference at i; returns the offset after it.
  size_t readReference(size_t i) {
    TableReference ref;
    if (at(i, '(')) {
      i = readInside(i);
    } else {
      if (i >= iEnd || !isName(aTokens[i])) return i;
      // A keyword stands for a name only when a dot follows (temp.t).
      if (isKeyword(aTokens[i]) && !at(i + 1, '.')) return i;
      ref.zName = aTokens[i].zName;
      i++;
      if (at(i, '.')) {
        ref.zSchema = std::move(ref.zName);
        ref.zName.clear();
        if (i + 1 < iEnd && isName(aTokens[i + 1])) ref.zName = aTokens[i + 1].zName;
        i += 2;
      }
      // The arguments of a table-valued function, or an INSERT's column list.
      if (at(i, '(')) i = readInside(i);
    }
    i = readAlias(i, &ref.zAlias);
    if (!ref.zName.empty() || !ref.zAlias.empty()) names.aTables.push_back(std::move(ref));
    return i;
  }

  // The tables of a WITH clause that starts at i (after WITH).
  size_t readCommonTables(size_t i) {
    if (atWord(i, "RECURSIVE")) i++;
    while (i < iEnd && isName(aTokens[i])) {
      CommonTable cte;
      cte.zName = aTokens[i].zName;
      i++;
      if (at(i, '(')) {
        const size_t iClose = skipParens(i);
        for (size_t j = i + 1; j + 1 < iClose; j++) {
          if (isName(aTokens[j])) cte.azColumns.push_back(aTokens[j].zName);
        }
        i = iClose;
      }
      names.aCommonTables.push_back(std::move(cte));
      if (!atWord(i, "AS")) break;
      i++;
      if (atWord(i, "NOT")) i++;
      if (atWord(i, "MATERIALIZED")) i++;
      if (!at(i, '(')) break;
      i = readInside(i);
      if (!at(i, ',')) break;
      i++;
    }
    return i;
  }

  void readAll(size_t i) {
    while (i < iEnd) {
      const SqlToken& t = aTokens[i];
      if (isWord(t, "WITH")) {
        i = readCommonTables(i + 1);
        continue;
      }
      if (t.eKind != SqlTokenKind::Word || !isOneOf(t.zName, tableWords)) {
        i++;
        continue;
      }
      // "x IS DISTINCT FROM y" names no table.
      if (isWord(t, "FROM") && i > 0 && isWord(aTokens[i - 1], "DISTINCT") && i > 1 &&
          (isWord(aTokens[i - 2], "IS") || isWord(aTokens[i - 2], "NOT"))) {
        i++;
        continue;
      }
      const bool bList = isWord(t, "FROM");
      i++;
      // IF NOT EXISTS / IF EXISTS after TABLE; OR ROLLBACK and friends after UPDATE.
      if (atWord(i, "IF")) {
        i++;
        if (atWord(i, "NOT")) i++;
        if (atWord(i, "EXISTS")) i++;
      }
      if (atWord(i, "OR")) i += 2;
      i = readReference(i);
      while (bList && at(i, ',')) {
        const size_t iNext = i + 1;
        i = readReference(iNext);
        if (i == iNext) break;
      }
    }
  }
};

// The offsets [iFirst, iEnd) of the statement around token iAt: from the
// token after the last ";" before it to the next ";".
std::pair<size_t, size_t> statementAround(const std::vector<SqlToken>& aTokens, size_t iAt) {
  size_t iFirst = 0;
  for (size_t i = 0; i < iAt && i < aTokens.size(); i++) {
    if (isPunct(aTokens[i], ';')) iFirst = i + 1;
  }
  size_t iEnd = iAt;
  while (iEnd < aTokens.size() && !isPunct(aTokens[iEnd], ';')) iEnd++;
  return {iFirst, iEnd};
}

// What is expected after the tokens [iFirst, iLast) (iLast is the first
// token of the word at the cursor, or the first after the cursor).
CursorWants wantsAfter(const std::vector<SqlToken>& aTokens, size_t iFirst, size_t iLast) {
  if (iLast <= iFirst) return CursorWants::Keyword;
  const SqlToken& prev = aTokens[iLast - 1];
  switch (prev.eKind) {
    case SqlTokenKind::Word:
      if (isOneOf(prev.zName, tableWords)) {
        if (isWord(prev, "FROM") && iLast >= iFirst + 2 && isWord(aTokens[iLast - 2], "DISTINCT")) {
          return CursorWants::Column;
        }
        return CursorWants::Table;
      }
      if (isOneOf(prev.zName, columnWords)) return CursorWants::Column;
      return CursorWants::Keyword;
    case SqlTokenKind::QuotedName:
    case SqlTokenKind::String:
    case SqlTokenKind::Number:
      return CursorWants::Keyword;
    default:
      break;
  }
  if (prev.eKind != SqlTokenKind::Punct) return CursorWants::Nothing;
  const char c = prev.zName.empty() ? 0 : prev.zName[0];
  if (c == ')') return CursorWants::Keyword;
  if (c == '(') {
    // "FROM (" opens a subquery or a join in parentheses.
    if (iLast >= iFirst + 2 && aTokens[iLast - 2].eKind == SqlTokenKind::Word &&
        isOneOf(aTokens[iLast - 2].zName, tableWords)) {
      return CursorWants::Keyword;
    }
    return CursorWants::Column;
  }
  if (c == ',') {
    // The clause of the list, at the same depth of parentheses.
    int nDepth = 0;
    for (size_t i = iLast - 1; i-- > iFirst;) {
      const SqlToken& t = aTokens[i];
      if (isPunct(t, ')')) nDepth++;
      if (isPunct(t, '(')) {
        if (nDepth == 0) return CursorWants::Column;
        nDepth--;
      }
      if (nDepth != 0 || t.eKind != SqlTokenKind::Word) continue;
      if (isWord(t, "FROM")) return CursorWants::Table;
      if (isOneOf(t.zName, columnWords) || isWord(t, "SELECT")) return CursorWants::Column;
    }
    return CursorWants::Column;
  }
  if (std::strchr("=<>!+-*/%|&~", c) != nullptr) return CursorWants::Column;
  return CursorWants::Keyword;
}

}  // namespace

std::vector<SqlToken> tokenizeSql(std::string_view z) {
  std::vector<SqlToken> aTokens;
  size_t i = 0;
  while (i < z.size()) {
    const auto c = static_cast<unsigned char>(z[i]);
    if (std::isspace(c) != 0) {
      i++;
      continue;
    }
    SqlToken t;
    t.iStart = i;
    if (c == '-' && i + 1 < z.size() && z[i + 1] == '-') {
      const size_t iEol = z.find('\n', i);
      if (iEol != std::string_view::npos) {
        i = iEol + 1;
        continue;
      }
      t.eKind = SqlTokenKind::Unfinished;
      t.cOpen = '-';
      i = z.size();
    } else if (c == '/' && i + 1 < z.size() && z[i + 1] == '*') {
      const size_t iClose = z.find("*/", i + 2);
      if (iClose != std::string_view::npos) {
        i = iClose + 2;
        continue;
      }
      t.eKind = SqlTokenKind::Unfinished;
      t.cOpen = '/';
      i = z.size();
    } else if (c == '\'' || c == '"' || c == '[' || c == '`') {
      std::string zName;
      const size_t iAfter = readQuoted(z, i, &zName);
      t.cOpen = static_cast<char>(c);
      if (iAfter == std::string_view::npos) {
        t.eKind = SqlTokenKind::Unfinished;
        t.zName = std::move(zName);
        i = z.size();
      } else {
        t.eKind = c == '\'' ? SqlTokenKind::String : SqlTokenKind::QuotedName;
        t.zName = std::move(zName);
        i = iAfter;
      }
    } else if ((c == 'x' || c == 'X') && i + 1 < z.size() && z[i + 1] == '\'') {
      // A blob literal reads as a string.
      const size_t iAfter = readQuoted(z, i + 1, nullptr);
      t.eKind = iAfter == std::string_view::npos ? SqlTokenKind::Unfinished : SqlTokenKind::String;
      t.cOpen = '\'';
      i = iAfter == std::string_view::npos ? z.size() : iAfter;
    } else if (isNameStart(c)) {
      while (i < z.size() && isNameByte(static_cast<unsigned char>(z[i]))) i++;
      t.eKind = SqlTokenKind::Word;
      t.zName.assign(z.substr(t.iStart, i - t.iStart));
    } else if (std::isdigit(c) != 0 || (c == '.' && i + 1 < z.size() &&
                                        std::isdigit(static_cast<unsigned char>(z[i + 1])))) {
      while (i < z.size() &&
             (isNameByte(static_cast<unsigned char>(z[i])) || z[i] == '.' ||
              ((z[i] == '+' || z[i] == '-') && (z[i - 1] == 'e' || z[i - 1] == 'E')))) {
        i++;
      }
      t.eKind = SqlTokenKind::Number;
    } else if ((c == '?' || c == ':' || c == '@' || c == '$') && i + 1 < z.size() &&
               isNameByte(static_cast<unsigned char>(z[i + 1]))) {
      i++;
      while (i < z.size() && isNameByte(static_cast<unsigned char>(z[i]))) i++;
      t.eKind = SqlTokenKind::Number;
    } else {
      t.eKind = SqlTokenKind::Punct;
      t.zName.assign(1, static_cast<char>(c));
      i++;
    }
    t.iEnd = i;
    aTokens.push_back(std::move(t));
  }
  return aTokens;
}

StatementNames readStatementNames(const std::vector<SqlToken>& aTokens, size_t iFirst,
                                  size_t iEnd) {
  NameReader reader{aTokens, std::min(iEnd, aTokens.size()), {}};
  reader.readAll(iFirst);
  return std::move(reader.names);
}

StatementNames readStatementNames(std::string_view zStatement) {
  const std::vector<SqlToken> aTokens = tokenizeSql(zStatement);
  return readStatementNames(aTokens, 0, aTokens.size());
}

CursorPlace readCursorPlace(std::string_view zText, size_t iCursor) {
  CursorPlace place;
  iCursor = std::min(iCursor, zText.size());
  const std::vector<SqlToken> aTokens = tokenizeSql(zText);
  // The token the cursor is in or just after, and the first token of the word.
  size_t iWord = 0;
  while (iWord < aTokens.size() && aTokens[iWord].iEnd < iCursor) iWord++;
  place.iWordStart = iCursor;
  if (iWord < aTokens.size() && aTokens[iWord].iStart < iCursor) {
    const SqlToken& t = aTokens[iWord];
    switch (t.eKind) {
      case SqlTokenKind::Word:
        place.iWordStart = t.iStart;
        place.zPrefix.assign(zText.substr(t.iStart, iCursor - t.iStart));
        break;
      case SqlTokenKind::QuotedName:
      case SqlTokenKind::Unfinished: {
        // Only a quoted name can be completed, and only before it is closed.
        const bool bName = t.cOpen == '"' || t.cOpen == '[' || t.cOpen == '`';
        if (!bName || (t.eKind == SqlTokenKind::QuotedName && iCursor >= t.iEnd)) return place;
        place.iWordStart = t.iStart;
        place.cOpenQuote = t.cOpen;
        std::string zTyped(zText.substr(t.iStart, iCursor - t.iStart));
        zTyped += closingQuote(t.cOpen);
        readQuoted(zTyped, 0, &place.zPrefix);
        break;
      }
      case SqlTokenKind::Punct:
        // The cursor is after an operator or a dot: the word starts here.
        iWord++;
        break;
      default:
        return place;
    }
  }
  const auto [iFirst, iEnd] = statementAround(aTokens, iWord);
  place.names = readStatementNames(aTokens, iFirst, iEnd);
  // A qualifier chain before the word: name . name . word
  size_t iChain = iWord;
  while (iChain >= iFirst + 2 && isPunct(aTokens[iChain - 1], '.') && isName(aTokens[iChain - 2])) {
    place.azQualifier.insert(place.azQualifier.begin(), aTokens[iChain - 2].zName);
    iChain -= 2;
  }
  place.eBaseWants = wantsAfter(aTokens, iFirst, iChain);
  place.eWants = place.azQualifier.empty() ? place.eBaseWants : CursorWants::Qualified;
  if (place.eWants != CursorWants::Qualified && iWord > iFirst &&
      isPunct(aTokens[iWord - 1], '.')) {
    place.eWants = CursorWants::Nothing;  // a dot after something that is no name
  }
  return place;
}
