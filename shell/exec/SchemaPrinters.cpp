// Placeholder schema printers: statements are printed unchanged.
#include "shell/exec/SchemaPrinters.h"

void writeSchemaStatement(FILE* out, const char* zSql, const char* zTail) {
  if (zSql == nullptr || zTail == nullptr) return;
  std::fputs(zSql, out);
  std::fputs(zTail, out);
}

void writeSchemaStatementN(FILE* out, char* zSql, int n, const char* zTail) {
  char c = zSql[n];
  zSql[n] = 0;
  writeSchemaStatement(out, zSql, zTail);
  zSql[n] = c;
}

void printIndentedSchema(FILE* out, const char* zSql) {
  writeSchemaStatement(out, zSql, ";\n");
}

bool endsLineWithoutCode(const char*) {
  return true;
}
