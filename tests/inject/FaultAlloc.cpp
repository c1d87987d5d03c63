// Allocation-failure injection for the test build of the shell (sqlsh_inject).
//
// The environment variable SQLSH_FAIL_ALLOC=N makes the Nth allocation request fail, counting
// the engine's allocator (installed here with SQLITE_CONFIG_MALLOC before the engine starts)
// and every C++ operator new of the process together.  "N+" fails the Nth request and every
// one after it.  SQLSH_FAIL_ALLOC_REPORT=PATH makes the process write, when it exits through
// exit() or a return from main, one line "REQUESTS FIRED" to PATH: the number of requests it
// made and 1 when the failure was injected, 0 when the run never reached the Nth request.
//
// A failed operator new behaves as the library's own does when malloc fails: it calls the
// installed new handler, or throws std::bad_alloc when there is none.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<unsigned long long> nRequests{0};
unsigned long long iFailAt = 0;  // 0: never fail
bool bFailOnward = false;
std::atomic<bool> bFired{false};
const char* zReportPath = nullptr;
sqlite3_mem_methods engineMethods;

// One more allocation request: true when this one is to fail.
bool nextRequestFails() {
  const unsigned long long n = nRequests.fetch_add(1, std::memory_order_relaxed) + 1;
  if (iFailAt == 0 || n < iFailAt) return false;
  if (n == iFailAt || bFailOnward) {
    bFired.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

void* injectMalloc(int nByte) {
  if (nextRequestFails()) return nullptr;
  return engineMethods.xMalloc(nByte);
}

void* injectRealloc(void* pOld, int nByte) {
  if (nextRequestFails()) return nullptr;
  return engineMethods.xRealloc(pOld, nByte);
}

void writeReport() {
  if (zReportPath == nullptr) return;
  const int fd = ::open(zReportPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  char zLine[64];
  const int n =
      std::snprintf(zLine, sizeof(zLine), "%llu %d\n", nRequests.load(), bFired.load() ? 1 : 0);
  if (n > 0) {
    [[maybe_unused]] const ssize_t nWritten = ::write(fd, zLine, static_cast<size_t>(n));
  }
  ::close(fd);
}

// Runs before main, so the engine is configured before anything initialises it.
__attribute__((constructor)) void installInjection() {
  const char* zFail = std::getenv("SQLSH_FAIL_ALLOC");
  if (zFail != nullptr && zFail[0] != 0) {
    char* zEnd = nullptr;
    iFailAt = std::strtoull(zFail, &zEnd, 10);
    bFailOnward = zEnd != nullptr && *zEnd == '+';
  }
  zReportPath = std::getenv("SQLSH_FAIL_ALLOC_REPORT");
  if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &engineMethods) == SQLITE_OK) {
    sqlite3_mem_methods methods = engineMethods;
    methods.xMalloc = injectMalloc;
    methods.xRealloc = injectRealloc;
    sqlite3_config(SQLITE_CONFIG_MALLOC, &methods);
  }
  std::atexit(writeReport);
}

void* allocateOrHandle(std::size_t nByte, std::size_t nAlign) {
  if (nByte == 0) nByte = 1;
  bool bInjected = nextRequestFails();
  for (;;) {
    void* p = nullptr;
    if (!bInjected) {
      if (nAlign <= alignof(std::max_align_t)) {
        p = std::malloc(nByte);
      } else {
        p = std::aligned_alloc(nAlign, (nByte + nAlign - 1) / nAlign * nAlign);
      }
      if (p != nullptr) return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
    bInjected = bFailOnward && iFailAt != 0;
  }
}

void* allocateNoThrow(std::size_t nByte, std::size_t nAlign) noexcept {
  try {
    return allocateOrHandle(nByte, nAlign);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t n) {
  return allocateOrHandle(n, 0);
}
void* operator new[](std::size_t n) {
  return allocateOrHandle(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a) {
  return allocateOrHandle(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return allocateOrHandle(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return allocateNoThrow(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return allocateNoThrow(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocateNoThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocateNoThrow(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(p);
}
