// Printers for schema statements (the semi and prettyprint modes, .schema).
#pragma once

#include <cstdio>

void writeSchemaStatement(FILE* out, const char* zSql, const char* zTail);
void writeSchemaStatementN(FILE* out, char* zSql, int n, const char* zTail);
void printIndentedSchema(FILE* out, const char* zSql);
bool endsLineWithoutCode(const char* z);
