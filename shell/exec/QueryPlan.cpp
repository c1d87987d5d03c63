// Query-plan trees (EXPLAIN QUERY PLAN rows drawn with "|--" and "`--") and the
// indentation of bytecode listings (EXPLAIN) in the explain layout.
#include <cstdlib>
#include <cstring>

#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"

namespace {

// Opcodes that end a loop, start one, and jump.
const char* const azNext[] = {"Next", "Prev", "VPrev", "VNext", "SorterNext", "Return"};
const char* const azYield[] = {"Yield", "SeekLT", "SeekGT", "RowSetRead", "Rewind"};
const char* const azGoto[] = {"Goto"};

// The columns a bytecode listing must have, in order.
const char* const azExplainCols[] = {"addr", "opcode", "p1", "p2", "p3", "p4", "p5", "comment"};

template <size_t N>
bool isOneOf(const char* z, const char* const (&az)[N]) {
  if (z == nullptr) return false;
  for (const char* zItem : az) {
    if (std::strcmp(z, zItem) == 0) return true;
  }
  return false;
}

bool isExplainBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool hasExplainColumns(sqlite3_stmt* pSql) {
  for (int i = 0; i < 8; i++) {
    const char* zName = sqlite3_column_name(pSql, i);
    if (zName == nullptr || std::strcmp(zName, azExplainCols[i]) != 0) return false;
  }
  return true;
}

// The next row after pOld (or the first row) whose parent is iEqpId.
PlanRow* planNextChild(ShellContext* p, PlanRow* pOld, int iEqpId) {
  PlanRow* pRow = pOld ? pOld->pNext : p->planTree.pFirst;
  while (pRow && pRow->iParentId != iEqpId) pRow = pRow->pNext;
  return pRow;
}

// Prints the children of iEqpId, one level deeper than the current prefix.
void planRenderLevel(ShellContext* p, int iEqpId) {
  char* zIndent = p->planTree.zIndent;
  size_t n = std::strlen(zIndent);
  PlanRow* pNext = nullptr;
  for (PlanRow* pRow = planNextChild(p, nullptr, iEqpId); pRow; pRow = pNext) {
    pNext = planNextChild(p, pRow, iEqpId);
    printConsole(p->pOut, "%s%s%s\n", zIndent, pNext ? "|--" : "`--", pRow->zText);
    // Each level adds three characters to the 100-byte prefix: 32 levels fit.
    if (n < nPlanIndentSize - 7) {
      std::memcpy(&zIndent[n], pNext ? "|  " : "   ", 4);
      planRenderLevel(p, pRow->iEqpId);
      zIndent[n] = 0;
    }
  }
}

}  // namespace

void prepareExplainIndent(ShellContext* p, sqlite3_stmt* pSql) {
  const char* zSql = pSql ? sqlite3_sql(pSql) : nullptr;
  if (zSql == nullptr || sqlite3_column_count(pSql) != 8) {
    p->eModeNow = p->eMode;
    return;
  }
  while (isExplainBlank(*zSql)) zSql++;
  if (sqlite3_strnicmp(zSql, "explain", 7) != 0) {
    p->eModeNow = p->eMode;
    return;
  }

  int nAlloc = 0;
  unsigned char* abYield = nullptr;  // rows that start a loop
  for (int iOp = 0; sqlite3_step(pSql) == SQLITE_ROW; iOp++) {
    int iAddr = sqlite3_column_int(pSql, 0);
    const char* zOp = reinterpret_cast<const char*>(sqlite3_column_text(pSql, 1));
    int p2 = sqlite3_column_int(pSql, 3);
    int p2op = p2 + (iOp - iAddr);  // the row P2 refers to

    if (iOp >= nAlloc) {
      if (iOp == 0 && !hasExplainColumns(pSql)) {
        p->eModeNow = p->eMode;
        sqlite3_reset(pSql);
        return;
      }
      nAlloc += 100;
      p->aiExplainIndent = checkAlloc(static_cast<int*>(
          std::realloc(p->aiExplainIndent, static_cast<size_t>(nAlloc) * sizeof(int))));
      abYield = checkAlloc(static_cast<unsigned char*>(std::realloc(abYield, nAlloc)));
    }
    abYield[iOp] = isOneOf(zOp, azYield);
    p->aiExplainIndent[iOp] = 0;
    p->nExplainIndent = iOp + 1;

    if (isOneOf(zOp, azNext) && p2op > 0) {
      for (int i = p2op; i < iOp; i++) p->aiExplainIndent[i] += 2;
    }
    if (isOneOf(zOp, azGoto) && p2op >= 0 && p2op < p->nExplainIndent &&
        (abYield[p2op] || sqlite3_column_int(pSql, 2))) {
      for (int i = p2op; i < iOp; i++) p->aiExplainIndent[i] += 2;
    }
  }
  p->iExplainIndent = 0;
  std::free(abYield);
  sqlite3_reset(pSql);
}

void clearExplainIndent(ShellContext* p) {
  std::free(p->aiExplainIndent);
  p->aiExplainIndent = nullptr;
  p->nExplainIndent = 0;
  p->iExplainIndent = 0;
}

void planAppend(ShellContext* p, int iEqpId, int iParentId, const char* zText) {
  if (zText == nullptr) return;
  size_t nText = std::strlen(zText);
  auto* pNew = static_cast<PlanRow*>(sqlite3_malloc64(sizeof(PlanRow) + nText));
  checkAlloc(pNew);
  pNew->iEqpId = iEqpId;
  pNew->iParentId = iParentId;
  pNew->pNext = nullptr;
  std::memcpy(pNew->zText, zText, nText + 1);
  if (p->planTree.pLast) {
    p->planTree.pLast->pNext = pNew;
  } else {
    p->planTree.pFirst = pNew;
  }
  p->planTree.pLast = pNew;
}

void planClear(ShellContext* p) {
  PlanRow* pRow = p->planTree.pFirst;
  while (pRow) {
    PlanRow* pNext = pRow->pNext;
    sqlite3_free(pRow);
    pRow = pNext;
  }
  std::memset(&p->planTree, 0, sizeof(p->planTree));
}

void planRender(ShellContext* p) {
  PlanRow* pRow = p->planTree.pFirst;
  if (pRow == nullptr) return;
  if (pRow->zText[0] == '-') {
    if (pRow->pNext == nullptr) {
      planClear(p);
      return;
    }
    // A heading row such as "--- SCAN ..." (trigger plans): printed from its
    // fourth character on.
    size_t nText = std::strlen(pRow->zText);
    printConsole(p->pOut, "%s\n", pRow->zText + (nText < 3 ? nText : 3));
    p->planTree.pFirst = pRow->pNext;
    sqlite3_free(pRow);
  } else {
    printConsole(p->pOut, "QUERY PLAN\n");
  }
  p->planTree.zIndent[0] = 0;
  planRenderLevel(p, 0);
  planClear(p);
}
