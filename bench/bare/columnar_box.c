/* The bare reference of bench_box: "SELECT * FROM t" of the database named
 * by argv[1] drawn in the box frame, the way a plain C program would: every
 * row held as one display line (its cells' texts one after another, each
 * ending in a NUL) in its own allocation, the column widths raised as the
 * rows arrive, then the frame printed with printf.  The widths are counted in
 * bytes: the benchmark's data is ASCII. */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void rule(int nCol, const int* aWidth, const char* zLeft, const char* zMid,
                 const char* zRight) {
  fputs(zLeft, stdout);
  for (int i = 0; i < nCol; i++) {
    if (i > 0) fputs(zMid, stdout);
    for (int j = 0; j < aWidth[i] + 2; j++) fputs("\xe2\x94\x80", stdout);
  }
  printf("%s\n", zRight);
}

int main(int argc, char** argv) {
  sqlite3* db = NULL;
  sqlite3_stmt* pStmt = NULL;
  if (argc < 2 || sqlite3_open(argv[1], &db) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "SELECT * FROM t", -1, &pStmt, NULL) != SQLITE_OK) {
    return 1;
  }
  int nCol = sqlite3_column_count(pStmt);
  int* aWidth = calloc((size_t)nCol + 1, sizeof(int));
  size_t nRow = 0, nAlloc = 0;
  char** azRow = NULL;
  for (int i = 0; i < nCol; i++) aWidth[i] = (int)strlen(sqlite3_column_name(pStmt, i));
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    size_t n = 0;
    for (int i = 0; i < nCol; i++) {
      const char* z = (const char*)sqlite3_column_text(pStmt, i);
      int w = z ? (int)strlen(z) : 0;
      if (w > aWidth[i]) aWidth[i] = w;
      n += (size_t)w + 1;
    }
    char* zLine = malloc(n);
    if (zLine == NULL) return 1;
    char* q = zLine;
    for (int i = 0; i < nCol; i++) {
      const char* z = (const char*)sqlite3_column_text(pStmt, i);
      size_t m = z ? strlen(z) : 0;
      memcpy(q, z ? z : "", m);
      q[m] = 0;
      q += m + 1;
    }
    if (nRow == nAlloc) {
      nAlloc = nAlloc ? 2 * nAlloc : 1024;
      azRow = realloc(azRow, nAlloc * sizeof(char*));
      if (azRow == NULL) return 1;
    }
    azRow[nRow++] = zLine;
  }
  sqlite3_finalize(pStmt);

  rule(nCol, aWidth, "\xe2\x94\x8c", "\xe2\x94\xac", "\xe2\x94\x90");
  fputs("\xe2\x94\x82 ", stdout);
  pStmt = NULL;
  sqlite3_prepare_v2(db, "SELECT * FROM t LIMIT 0", -1, &pStmt, NULL);
  for (int i = 0; i < nCol; i++) {
    const char* z = sqlite3_column_name(pStmt, i);
    int nPad = aWidth[i] - (int)strlen(z);
    printf("%*s%s%*s", nPad / 2, "", z, (nPad + 1) / 2, "");
    fputs(i == nCol - 1 ? " \xe2\x94\x82\n" : " \xe2\x94\x82 ", stdout);
  }
  sqlite3_finalize(pStmt);
  rule(nCol, aWidth, "\xe2\x94\x9c", "\xe2\x94\xbc", "\xe2\x94\xa4");
  for (size_t r = 0; r < nRow; r++) {
    const char* z = azRow[r];
    fputs("\xe2\x94\x82 ", stdout);
    for (int i = 0; i < nCol; i++) {
      printf("%-*s", aWidth[i], z);
      fputs(i == nCol - 1 ? " \xe2\x94\x82\n" : " \xe2\x94\x82 ", stdout);
      z += strlen(z) + 1;
    }
    free(azRow[r]);
  }
  rule(nCol, aWidth, "\xe2\x94\x94", "\xe2\x94\xb4", "\xe2\x94\x98");
  free(azRow);
  free(aWidth);
  sqlite3_close(db);
  return 0;
}
