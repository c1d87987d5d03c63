// libFuzzer target for the hex-dump database reader readHexDump, fed through
// p->pIn from fmemopen as `.open --hexdb` reads a dump from the current input.
//
// Checked on every input:
// - the reader ends; it gives an image exactly when the first line is a valid
//   "| size N pagesize P" header, and then the image is N rounded up to whole
//   pages; the line number moves on by the lines read, up to and including
//   the "| end" line, a long line counted once;
// - an image written out again as a hex dump and read back gives the same
//   bytes;
// - the image deserialized into a connection survives a few queries (the
//   schema, an integrity check, a scan of every table) within the work budget.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "shell/core/OpenDatabase.h"
#include "tests/fuzz/FuzzShell.h"

namespace {

using fuzzshell::Budget;

[[noreturn]] void fail(std::string_view zWhat) {
  fuzzshell::fail("fuzz_hexdump", zWhat);
}

// Images above this size are only checked for their length: the round trip
// and the queries would spend the fuzzer's time on zero pages.
constexpr int kLargestChecked = 1 << 20;
constexpr long long kLargestRead = 64 << 20;

struct Image {
  unsigned char* a = nullptr;
  int n = 0;
  int iLineAfter = 0;
};

Image readFrom(ShellContext* p, const std::string& zText, int iLineBefore) {
  Image img;
  FILE* in = fmemopen(const_cast<char*>(zText.data()), zText.size(), "r");
  if (in == nullptr) fail("fmemopen");
  p->pIn = in;
  p->iLineNo = iLineBefore;
  img.a = readHexDump(p, &img.n);
  img.iLineAfter = p->iLineNo;
  std::fclose(in);
  p->pIn = nullptr;
  return img;
}

// The header's size and page size when the first line is one the reader must
// accept, by sscanf as the format is defined.
bool parseHeader(const std::string& zText, long long* pnSize, int* pPgsz) {
  std::string zFirst = zText.substr(0, zText.find('\n'));
  zFirst = zFirst.substr(0, 999).c_str();  // a longer first line comes in pieces
  int nSize = 0;
  int pgsz = 0;
  if (std::sscanf(zFirst.c_str(), "| size %d pagesize %d", &nSize, &pgsz) != 2) return false;
  if (nSize < 0 || pgsz < 512 || pgsz > 65536 || (pgsz & (pgsz - 1)) != 0) return false;
  *pnSize = nSize;
  *pPgsz = pgsz;
  return true;
}

// The lines the reader consumes, by a model of fgets on a 1000-byte buffer:
// each line comes in pieces of at most 999 bytes, and the first piece after
// the header that starts with "| end " is the last one read.  A line counts
// once, however many pieces it takes.
int expectedLines(const std::string& zText) {
  constexpr size_t nPiece = 999;
  int nLine = 0;
  bool bHeader = true;
  size_t i = 0;
  while (i < zText.size()) {
    size_t iEnd = zText.find('\n', i);
    iEnd = iEnd == std::string::npos ? zText.size() : iEnd + 1;
    nLine++;
    for (size_t j = i; j < iEnd; j += nPiece) {
      if (!bHeader && iEnd - j >= 6 && zText.compare(j, 6, "| end ") == 0) return nLine;
      bHeader = false;
    }
    i = iEnd;
  }
  return nLine;
}

std::string writeHexDump(const unsigned char* a, int n, int pgsz) {
  std::string z;
  char zBuf[200];
  std::snprintf(zBuf, sizeof(zBuf), "| size %d pagesize %d filename x.db\n", n, pgsz);
  z += zBuf;
  for (int iPage = 0; iPage * pgsz < n; iPage++) {
    const int iBase = iPage * pgsz;
    bool bHeader = false;
    for (int i = 0; i < pgsz; i += 16) {
      if (std::all_of(a + iBase + i, a + iBase + i + 16, [](unsigned char c) { return c == 0; })) {
        continue;
      }
      if (!bHeader) {
        std::snprintf(zBuf, sizeof(zBuf), "| page %d offset %d\n", iPage + 1, iBase);
        z += zBuf;
        bHeader = true;
      }
      int k = std::snprintf(zBuf, sizeof(zBuf), "|  %d:", i);
      for (int j = 0; j < 16; j++) {
        k += std::snprintf(zBuf + k, sizeof(zBuf) - static_cast<size_t>(k), " %02x",
                           a[iBase + i + j]);
      }
      z += zBuf;
      z += '\n';
    }
  }
  z += "| end x.db\n";
  return z;
}

void runQueries(unsigned char* a, int n) {
  Budget budget;
  sqlite3* db = fuzzshell::openBounded(&budget);
  const int rc = fuzzshell::deserializeCopy(db, a, static_cast<size_t>(n));
  if (rc == SQLITE_OK) {
    std::vector<std::string> azTable;
    {
      StmtPtr pStmt = prepareStmt(db, "SELECT name FROM sqlite_schema WHERE type='table'");
      while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
        const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
        if (z) azTable.emplace_back(z);
      }
    }
    sqlite3_exec(db, "PRAGMA integrity_check", nullptr, nullptr, nullptr);
    for (const std::string& zTable : azTable) {
      char* zSql = sqlite3_mprintf("SELECT * FROM \"%w\"", zTable.c_str());
      sqlite3_exec(db, zSql, nullptr, nullptr, nullptr);
      sqlite3_free(zSql);
    }
  }
  sqlite3_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData == 0 || nData > 65536) return 0;
  static ShellContext ctx;
  ShellContext* p = &ctx;
  fuzzshell::resetContext(p);
  const std::string zText(reinterpret_cast<const char*>(aData), nData);
  long long nSize = 0;
  int pgsz = 0;
  const bool bHeader = parseHeader(zText, &nSize, &pgsz);
  // A dump may describe an image of up to 2 GiB, all of it allocated and
  // cleared: valid, but too slow for fuzzing.
  if (bHeader && nSize > kLargestRead) return 0;
  const int iLineBefore = 7;
  Image img = readFrom(p, zText, iLineBefore);

  if (img.iLineAfter - iLineBefore != expectedLines(zText)) fail("lines counted wrongly");
  if (bHeader != (img.a != nullptr)) fail("image given for a bad header, or none for a good one");
  if (img.a != nullptr) {
    const long long nExpect = (nSize + pgsz - 1) / pgsz * pgsz;
    if (img.n != nExpect) fail("image size is not the header's size in whole pages");
    if (img.n <= kLargestChecked) {
      const std::string zAgain = writeHexDump(img.a, img.n, pgsz);
      Image again = readFrom(p, zAgain, 0);
      if (again.a == nullptr || again.n != img.n || !std::equal(img.a, img.a + img.n, again.a)) {
        fail("written and read again, the image differs");
      }
      sqlite3_free(again.a);
      runQueries(img.a, img.n);
    }
    sqlite3_free(img.a);
  }
  return 0;
}
