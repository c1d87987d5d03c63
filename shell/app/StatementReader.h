// Reading an SQL statement while it is being typed: its tokens, the tables
// it names (with their schemas and aliases, and the common tables of its
// WITH clause), and what the statement expects at the cursor.  Nothing here
// runs or prepares the statement; the text may be unfinished anywhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class SqlTokenKind {
  Word,        // a plain name or keyword
  QuotedName,  // "name", [name] or `name`
  String,      // 'text'
  Number,      // a number, a blob literal's digits, or a parameter (?1, :name, @name, $name)
  Punct,       // any other byte: . , ; ( ) and the operators
  Unfinished,  // a string, quoted name or comment that the text ends inside
};

struct SqlToken {
  SqlTokenKind eKind = SqlTokenKind::Punct;
  size_t iStart = 0;
  size_t iEnd = 0;
  // Word and QuotedName: the name, without its quotes (doubled quotes undone).
  std::string zName;
  // QuotedName and Unfinished: the byte that opened it (" [ ` ' - /).
  char cOpen = 0;
};

std::vector<SqlToken> tokenizeSql(std::string_view zSql);

// One table the statement reads or writes.  zName is empty for a subquery in
// FROM (only its alias is known).
struct TableReference {
  std::string zSchema;
  std::string zName;
  std::string zAlias;
};

// A table of the WITH clause, with the column names it declares, if any.
struct CommonTable {
  std::string zName;
  std::vector<std::string> azColumns;
};

struct StatementNames {
  std::vector<TableReference> aTables;
  std::vector<CommonTable> aCommonTables;
};

// The names of the tokens [iFirst, iEnd) of aTokens, taken as one statement
// (subqueries included).
StatementNames readStatementNames(const std::vector<SqlToken>& aTokens, size_t iFirst, size_t iEnd);
StatementNames readStatementNames(std::string_view zStatement);

// What the statement expects where the cursor is.
enum class CursorWants {
  Nothing,    // inside a string, a comment, a number or after a finished quoted name
  Keyword,    // anything: a keyword first
  Table,      // a table, a view or a table-valued function
  Column,     // an expression: a column first
  Qualified,  // a name after "qualifier.": a column of that table or a table of that schema
};

struct CursorPlace {
  CursorWants eWants = CursorWants::Nothing;
  // What the cursor's place would want without the qualifier (for
  // "FROM stock." this is Table: the qualifier is then first a schema).
  CursorWants eBaseWants = CursorWants::Nothing;
  size_t iWordStart = 0;  // where the word being completed starts (its quote included)
  std::string zPrefix;    // the word typed so far, without its opening quote
  char cOpenQuote = 0;    // the word's opening quote, or 0 for a plain word
  // For Qualified: the names before the dot, the outermost first
  // ("stock.items." gives stock, items).
  std::vector<std::string> azQualifier;
  StatementNames names;  // of the statement the cursor is in
};

// zText is the statement typed so far, earlier lines included, and the rest
// of the current line; iCursor is the cursor's offset in it.
CursorPlace readCursorPlace(std::string_view zText, size_t iCursor);
