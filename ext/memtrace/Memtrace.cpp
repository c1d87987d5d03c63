// The tracing layer runs inside the engine's allocator, possibly while the engine holds its
// memory mutex, so a line must never be composed with anything that allocates through the
// engine (its formatter would re-enter this layer). Lines are formatted into a stack buffer and
// written with one fwrite.

#include "ext/memtrace/Memtrace.h"

#include <cstddef>
#include <cstdio>

namespace {

sqlite3_mem_methods savedMemMethods{};
FILE* pTraceStream = nullptr;

// Long enough for the longest line: two ints and the fixed words.
constexpr int traceLineCapacity = 96;

template <typename... Args>
void traceLine(const char* zFormat, Args... args) {
  if (pTraceStream == nullptr) return;
  char zLine[traceLineCapacity];
  const int nLine = std::snprintf(zLine, sizeof(zLine), zFormat, args...);
  if (nLine <= 0) return;
  const auto nWrite = static_cast<std::size_t>(nLine) < sizeof(zLine)
                          ? static_cast<std::size_t>(nLine)
                          : sizeof(zLine) - 1;
  std::fwrite(zLine, 1, nWrite, pTraceStream);
}

void* traceMalloc(int n) {
  traceLine("MEMTRACE: allocate %d bytes\n", savedMemMethods.xRoundup(n));
  return savedMemMethods.xMalloc(n);
}

void traceFree(void* p) {
  if (p == nullptr) return;
  traceLine("MEMTRACE: free %d bytes\n", savedMemMethods.xSize(p));
  savedMemMethods.xFree(p);
}

void* traceRealloc(void* p, int n) {
  if (p == nullptr) return traceMalloc(n);
  if (n == 0) {
    traceFree(p);
    return nullptr;
  }
  traceLine("MEMTRACE: resize %d -> %d bytes\n", savedMemMethods.xSize(p),
            savedMemMethods.xRoundup(n));
  return savedMemMethods.xRealloc(p, n);
}

int traceSize(void* p) {
  return savedMemMethods.xSize(p);
}

int traceRoundup(int n) {
  return savedMemMethods.xRoundup(n);
}

// The saved allocator gets its own application data back.
int traceInit(void*) {
  return savedMemMethods.xInit ? savedMemMethods.xInit(savedMemMethods.pAppData) : SQLITE_OK;
}

void traceShutdown(void*) {
  if (savedMemMethods.xShutdown) savedMemMethods.xShutdown(savedMemMethods.pAppData);
}

sqlite3_mem_methods traceMemMethods = {
    traceMalloc, traceFree, traceRealloc, traceSize, traceRoundup, traceInit, traceShutdown,
    nullptr,  // pAppData
};

}  // namespace

int memtraceStart(FILE* pOut) {
  int rc = SQLITE_OK;
  if (savedMemMethods.xMalloc == nullptr) {
    rc = sqlite3_config(SQLITE_CONFIG_GETMALLOC, &savedMemMethods);
    if (rc == SQLITE_OK && savedMemMethods.xMalloc == nullptr) rc = SQLITE_ERROR;
    if (rc == SQLITE_OK) rc = sqlite3_config(SQLITE_CONFIG_MALLOC, &traceMemMethods);
    // Nothing was installed: forget the copy so that a later call can try again.
    if (rc != SQLITE_OK) savedMemMethods = sqlite3_mem_methods{};
  }
  pTraceStream = pOut;
  return rc;
}
