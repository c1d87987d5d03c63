#include "shell/core/ExternalEditor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shell/core/Platform.h"

namespace {

bool isBlank(std::string_view z) {
  return z.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
}

// The temporary file's name; the file is removed when the owner goes.
struct TemporaryFile {
  std::string zName;
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!zName.empty()) unlink(zName.c_str());
  }
};

// Reads the whole file named zName, a regular file reached without
// following a symbolic link.
bool readFileByName(const std::string& zName, std::string* pzText) {
  const int fd = open(zName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool bOk = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  char aBuf[8192];
  while (bOk) {
    const ssize_t n = read(fd, aBuf, sizeof aBuf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) bOk = false;
    if (n <= 0) break;
    pzText->append(aBuf, static_cast<size_t>(n));
  }
  close(fd);
  return bOk;
}

}  // namespace

std::string externalEditorCommand() {
  for (const char* zName : {"VISUAL", "EDITOR"}) {
    const char* z = std::getenv(zName);
    if (z != nullptr && !isBlank(z)) return z;
  }
  return "vi";
}

std::string shellQuoted(std::string_view zText) {
  std::string z = "'";
  for (char c : zText) {
    if (c == '\'') {
      z += "'\\''";
    } else {
      z += c;
    }
  }
  z += '\'';
  return z;
}

std::string editorCommandLine(const std::string& zEditor, const std::string& zFile) {
  return zEditor + " " + shellQuoted(zFile);
}

std::string temporaryDirectory() {
  const char* z = std::getenv("TMPDIR");
  if (z != nullptr && z[0] != 0) return z;
  return "/tmp";
}

EditedText editInExternalEditor(std::string_view zText) {
  EditedText result;
  std::string zTemplate = temporaryDirectory();
  if (zTemplate.back() != '/') zTemplate += '/';
  zTemplate += "sqlsh-edit-XXXXXX.sql";
  std::vector<char> aName(zTemplate.begin(), zTemplate.end());
  aName.push_back(0);
  // mkostemps opens with O_CREAT | O_EXCL and mode 0600.
  const int fd = mkostemps(aName.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    result.zWhy = std::string("cannot create a temporary file in ") + temporaryDirectory() + ": " +
                  std::strerror(errno);
    return result;
  }
  TemporaryFile file;
  file.zName = aName.data();
  std::string zContent(zText);
  if (!zContent.empty() && zContent.back() != '\n') zContent += '\n';
  const bool bWritten = writeFully(fd, zContent);
  close(fd);
  if (!bWritten) {
    result.zWhy = "cannot write the temporary file";
    return result;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const std::string zCommand = editorCommandLine(externalEditorCommand(), file.zName);
  const int rc = std::system(zCommand.c_str());
  if (rc == -1) {
    result.zWhy = "cannot run the editor";
    return result;
  }
  if (WIFSIGNALED(rc)) {
    result.zWhy = std::string("the editor was ended by signal ") + std::to_string(WTERMSIG(rc));
    return result;
  }
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) != 0) {
    const int iStatus = WIFEXITED(rc) ? WEXITSTATUS(rc) : rc;
    result.zWhy = iStatus == 127 ? "cannot run the editor \"" + externalEditorCommand() + "\""
                                 : "the editor exited with status " + std::to_string(iStatus);
    return result;
  }
  std::string zSaved;
  if (!readFileByName(file.zName, &zSaved)) {
    result.zWhy = "cannot read the edited file back";
    return result;
  }
  if (isBlank(zSaved)) {
    result.zWhy = "the file was left empty";
    return result;
  }
  result.bChanged = true;
  result.zText = std::move(zSaved);
  return result;
}
