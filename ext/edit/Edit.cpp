// edit(): write the value to a new temporary file, run the editor on it, read it back.

#include "ext/edit/Edit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};
using SqliteText = std::unique_ptr<char, SqliteFree>;

struct FileCloser {
  void operator()(FILE* p) const { std::fclose(p); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Deletes the temporary file when the call ends, on every path. Armed only once this call has
// created the file, so that a file someone else made under the same name is never removed.
class TempFileRemover {
 public:
  TempFileRemover() = default;
  TempFileRemover(const TempFileRemover&) = delete;
  TempFileRemover& operator=(const TempFileRemover&) = delete;
  ~TempFileRemover() {
    if (zName_ != nullptr) unlink(zName_);
  }
  void arm(const char* zName) { zName_ = zName; }

 private:
  const char* zName_ = nullptr;
};

// A name for the temporary file: the one the connection's VFS proposes, else a random name in
// $TMPDIR or /tmp. Null when out of memory.
SqliteText makeTempFileName(sqlite3* db) {
  char* zName = nullptr;
  sqlite3_file_control(db, nullptr, SQLITE_FCNTL_TEMPFILENAME, &zName);
  if (zName != nullptr) return SqliteText(zName);
  sqlite3_uint64 uRandom = 0;
  sqlite3_randomness(sizeof(uRandom), &uRandom);
  const char* zDir = std::getenv("TMPDIR");
  if (zDir == nullptr || zDir[0] == 0) zDir = "/tmp";
  return SqliteText(sqlite3_mprintf("%s/temp%llx", zDir, uRandom));
}

// The text as one word for /bin/sh: inside single quotes nothing is special but the quote.
std::string shellQuoted(std::string_view zText) {
  std::string zQuoted = "'";
  for (const char c : zText) {
    if (c == '\'') {
      zQuoted += "'\\''";
    } else {
      zQuoted += c;
    }
  }
  zQuoted += '\'';
  return zQuoted;
}

// Creates the file, failing if anything exists under the name, readable by the owner only.
FilePtr createExclusive(const char* zName, bool bBinary) {
  const int fd = open(zName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* pFile = fdopen(fd, bBinary ? "wb" : "w");
  if (pFile == nullptr) close(fd);
  return FilePtr(pFile);
}

bool containsCrLf(const char* z, std::size_t n) {
  return n >= 2 && std::string_view(z, n).find("\r\n") != std::string_view::npos;
}

// Drops every carriage return that comes right before a line feed; returns the new length.
std::size_t dropCrBeforeLf(char* z, std::size_t n) {
  std::size_t j = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (z[i] == '\r' && i + 1 < n && z[i + 1] == '\n') continue;
    z[j++] = z[i];
  }
  return j;
}

}  // namespace

void editSqlFunction(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg) {
  if (const auto* pGate = static_cast<const EditGate*>(sqlite3_user_data(pCtx));
      pGate != nullptr && pGate->xAllow != nullptr && pGate->xAllow(pGate->pArg, "edit") == 0) {
    sqlite3_result_error(pCtx, "not authorized", -1);
    sqlite3_result_error_code(pCtx, SQLITE_AUTH);
    return;
  }
  const char* zEditorArg = nArg == 2 ? reinterpret_cast<const char*>(sqlite3_value_text(apArg[1]))
                                     : std::getenv("VISUAL");
  if (zEditorArg == nullptr) {
    sqlite3_result_error(pCtx, "no editor for edit()", -1);
    return;
  }
  const std::string zEditor = zEditorArg;
  if (sqlite3_value_type(apArg[0]) == SQLITE_NULL) {
    sqlite3_result_error(pCtx, "NULL input to edit()", -1);
    return;
  }
  const bool bBinary = sqlite3_value_type(apArg[0]) == SQLITE_BLOB;

  // Declared in this order so that the file is closed, then deleted, then the name freed.
  SqliteText zTempFile = makeTempFileName(sqlite3_context_db_handle(pCtx));
  if (zTempFile == nullptr) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  TempFileRemover remover;
  FilePtr pFile = createExclusive(zTempFile.get(), bBinary);
  if (pFile == nullptr) {
    sqlite3_result_error(pCtx, "edit() cannot open temp file", -1);
    return;
  }
  remover.arm(zTempFile.get());

  const void* pData = bBinary ? sqlite3_value_blob(apArg[0]) : sqlite3_value_text(apArg[0]);
  const auto nData = static_cast<std::size_t>(sqlite3_value_bytes(apArg[0]));
  const bool bHadCrLf = !bBinary && containsCrLf(static_cast<const char*>(pData), nData);
  const std::size_t nWritten = nData > 0 ? std::fwrite(pData, 1, nData, pFile.get()) : 0;
  const int closeResult = std::fclose(pFile.release());
  if (nWritten < nData || closeResult != 0) {
    sqlite3_result_error(pCtx, "edit() could not write the whole file", -1);
    return;
  }

  const std::string zCommand = zEditor + " " + shellQuoted(zTempFile.get());
  if (std::system(zCommand.c_str()) != 0) {
    sqlite3_result_error(pCtx, "EDITOR returned non-zero", -1);
    return;
  }

  pFile.reset(std::fopen(zTempFile.get(), "rb"));
  if (pFile == nullptr) {
    sqlite3_result_error(pCtx, "edit() cannot reopen temp file after edit", -1);
    return;
  }
  long nSize = -1;
  if (std::fseek(pFile.get(), 0, SEEK_END) == 0) nSize = std::ftell(pFile.get());
  std::rewind(pFile.get());
  if (nSize < 0) {
    sqlite3_result_error(pCtx, "could not read back the whole file", -1);
    return;
  }
  const auto nContent = static_cast<std::size_t>(nSize);
  SqliteText pContent(static_cast<char*>(sqlite3_malloc64(nContent + 1)));
  if (pContent == nullptr) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  const std::size_t nRead = nContent > 0 ? std::fread(pContent.get(), 1, nContent, pFile.get()) : 0;
  if (nRead < nContent) {
    sqlite3_result_error(pCtx, "could not read back the whole file", -1);
    return;
  }

  if (bBinary) {
    sqlite3_result_blob64(pCtx, pContent.release(), nContent, sqlite3_free);
    return;
  }
  // Undo a text-mode newline translation, unless the value had such pairs of its own.
  const std::size_t nText = bHadCrLf ? nContent : dropCrBeforeLf(pContent.get(), nContent);
  pContent.get()[nText] = 0;
  sqlite3_result_text64(pCtx, pContent.release(), nText, sqlite3_free, SQLITE_UTF8);
}

int editRegister(sqlite3* db, const EditGate* pGate) {
  constexpr int flags = SQLITE_UTF8 | SQLITE_DIRECTONLY;
  // The engine's interface takes the gate as mutable user data; it is only read.
  void* pApp = const_cast<EditGate*>(pGate);
  int rc = sqlite3_create_function(db, "edit", 1, flags, pApp, editSqlFunction, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "edit", 2, flags, pApp, editSqlFunction, nullptr, nullptr);
  }
  return rc;
}
