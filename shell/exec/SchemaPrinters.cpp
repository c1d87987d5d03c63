// Printers for schema statements: the semi and prettyprint row modes, .schema,
// .fullschema and the CREATE statements of .dump.
#include "shell/exec/SchemaPrinters.h"

#include <sqlite3.h>

#include <cctype>
#include <cstring>

#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"

namespace {

// Texts tried after a stored statement so that a trailing comment cannot
// swallow the ';' printed after it.
const char* const schemaTailTerminators[] = {"", "*/", "\n"};

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

void writeSchemaStatement(FILE* out, const char* zSql, const char* zTail) {
  if (zSql == nullptr || zTail == nullptr) return;
  SqlitePtr zCompleted;
  if (zTail[0] == ';' &&
      (std::strstr(zSql, "/*") != nullptr || std::strstr(zSql, "--") != nullptr)) {
    for (const char* zTerm : schemaTailTerminators) {
      char* zTry = checkAlloc(sqlite3_mprintf("%s%s;", zSql, zTerm));
      if (sqlite3_complete(zTry)) {
        zTry[std::strlen(zTry) - 1] = 0;  // drop the ';' that was only there for the test
        zCompleted.reset(zTry);
        zSql = zTry;
        break;
      }
      sqlite3_free(zTry);
    }
  }
  if (sqlite3_strglob("CREATE TABLE ['\"]*", zSql) == 0) {
    printConsole(out, "CREATE TABLE IF NOT EXISTS %s%s", zSql + 13, zTail);
  } else {
    printConsole(out, "%s%s", zSql, zTail);
  }
}

void writeSchemaStatementN(FILE* out, char* zSql, int n, const char* zTail) {
  char c = zSql[n];
  zSql[n] = 0;
  writeSchemaStatement(out, zSql, zTail);
  zSql[n] = c;
}

bool endsLineWithoutCode(const char* z) {
  while (*z != 0 && *z != '\n' && isSpace(*z)) z++;
  if (*z == 0 || *z == '\n') return true;
  return z[0] == '-' && z[1] == '-';
}

void printIndentedSchema(FILE* out, const char* zSql) {
  if (zSql == nullptr) return;
  if (sqlite3_strlike("CREATE VIEW%", zSql, 0) == 0 ||
      sqlite3_strlike("CREATE TRIG%", zSql, 0) == 0) {
    printConsole(out, "%s;\n", zSql);
    return;
  }

  // Squeeze the white space: a run keeps its first byte, none is kept after
  // '(' or before '(' and ')', a '\r' that starts a run becomes '\n'.
  CPtr zOwned(checkAlloc(strdup(zSql)));
  char* z = zOwned.get();
  int i = 0;
  while (isSpace(z[i])) i++;
  int j = 0;
  for (; z[i]; i++) {
    char c = z[i];
    if (isSpace(c)) {
      if (j > 0 && z[j - 1] == '\r') z[j - 1] = '\n';
      if (j > 0 && (isSpace(z[j - 1]) || z[j - 1] == '(')) continue;
    } else if ((c == '(' || c == ')') && j > 0 && isSpace(z[j - 1])) {
      j--;
    }
    z[j++] = c;
  }
  while (j > 0 && isSpace(z[j - 1])) j--;
  z[j] = 0;

  // Long statements: one top-level column definition per line.
  if (std::strlen(z) >= 79) {
    int nDepth = 0;
    char cEnd = 0;
    int nLine = 0;
    int iStart = 0;  // start of the pending line
    for (i = 0; z[i]; i++) {
      char c = z[i];
      if (c == cEnd) {
        cEnd = 0;
      } else if (c == '"' || c == '\'' || c == '`') {
        cEnd = c;
      } else if (c == '[') {
        cEnd = ']';
      } else if (c == '-' && z[i + 1] == '-') {
        cEnd = '\n';
      } else if (c == '(') {
        nDepth++;
      } else if (c == ')') {
        nDepth--;
        if (nLine > 0 && nDepth == 0 && i > iStart) {
          writeSchemaStatementN(out, z + iStart, i - iStart, "\n");
          iStart = i;
        }
      }
      if (nDepth == 1 && cEnd == 0 &&
          (c == '(' || c == '\n' || (c == ',' && !endsLineWithoutCode(z + i + 1)))) {
        int nPending = i - iStart + 1;
        if (c == '\n') nPending--;
        writeSchemaStatementN(out, z + iStart, nPending, "\n  ");
        nLine++;
        while (isSpace(z[i + 1])) i++;
        iStart = i + 1;
      }
    }
    z += iStart;
  }
  writeSchemaStatement(out, z, ";\n");
}
