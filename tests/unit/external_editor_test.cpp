// The statement in the user's editor: the command chosen, the quoting of the
// file name, and the private temporary file that holds the text, driven by
// small editor scripts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell/core/ExternalEditor.h"
#include "tests/unit/shell_process.h"

namespace external_editor_test {

using shell_process::readFile;
using shell_process::ScopedEnv;
using shell_process::TempDir;
using shell_process::writeFile;
namespace fs = std::filesystem;

TEST(ExternalEditor, FileNamesAreQuotedForTheShell) {
  const struct {
    const char* zName;
    const char* zQuoted;
  } aCases[] = {
      {"plain.sql", "'plain.sql'"},
      {"", "''"},
      {"a b", "'a b'"},
      {"it's", "'it'\\''s'"},
      {"$HOME `x` \"q\" \\", "'$HOME `x` \"q\" \\'"},
      {"''", "''\\'''\\'''"},
  };
  for (const auto& c : aCases) EXPECT_EQ(shellQuoted(c.zName), c.zQuoted) << c.zName;
  EXPECT_EQ(editorCommandLine("code -w", "/tmp/it's.sql"), "code -w '/tmp/it'\\''s.sql'");
}

TEST(ExternalEditor, VisualThenEditorThenVi) {
  const struct {
    const char* zVisual;  // null: unset
    const char* zEditor;
    const char* zChosen;
  } aCases[] = {
      {"nano", "ed", "nano"}, {nullptr, "code -w", "code -w"}, {"", "ed", "ed"},
      {"  ", nullptr, "vi"},  {nullptr, nullptr, "vi"},        {nullptr, " \t", "vi"},
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(std::string(c.zVisual ? c.zVisual : "(unset)") + " / " +
                 (c.zEditor ? c.zEditor : "(unset)"));
    ScopedEnv visual("VISUAL", "");
    ScopedEnv editor("EDITOR", "");
    if (c.zVisual == nullptr) unsetenv("VISUAL");
    if (c.zVisual != nullptr) setenv("VISUAL", c.zVisual, 1);
    if (c.zEditor == nullptr) unsetenv("EDITOR");
    if (c.zEditor != nullptr) setenv("EDITOR", c.zEditor, 1);
    EXPECT_EQ(externalEditorCommand(), c.zChosen);
  }
}

// An editor script in a directory whose name needs quoting, and a temporary
// directory of its own (also needing quotes), emptied again after each edit.
class EditorScript : public ::testing::Test {
 protected:
  void SetUp() override {
    zTmp = dir / "it's temp";
    fs::create_directory(zTmp);
    zScript = dir / "edit it.sh";
  }
  // Runs an edit of zText with the script's body as the editor ($1: the file).
  EditedText edit(const std::string& zBody, const std::string& zText) {
    writeFile(zScript, zBody);
    ScopedEnv tmpdir("TMPDIR", zTmp);
    ScopedEnv visual("VISUAL", "sh " + shellQuoted(zScript));
    return editInExternalEditor(zText);
  }
  std::vector<std::string> leftInTemp() const {
    std::vector<std::string> azLeft;
    for (const auto& entry : fs::directory_iterator(zTmp)) {
      azLeft.push_back(entry.path().filename().string());
    }
    return azLeft;
  }
  TempDir dir;
  std::string zTmp;
  std::string zScript;
};

TEST_F(EditorScript, TheTextComesBackFromAPrivateFileThatIsThenRemoved) {
  const std::string zRecord = dir / "record";
  const EditedText edited = edit("stat -c %a \"$1\" > '" + zRecord +
                                     ".mode'\n"
                                     "printf '%s' \"$1\" > '" +
                                     zRecord +
                                     ".name'\n"
                                     "cp \"$1\" '" +
                                     zRecord +
                                     ".seen'\n"
                                     // sed -i writes a new file and renames it over the old one.
                                     "sed -i 's/1/2/' \"$1\"\n",
                                 "SELECT 1");
  EXPECT_TRUE(edited.bChanged) << edited.zWhy;
  EXPECT_EQ(edited.zText, "SELECT 2\n");
  EXPECT_EQ(readFile(zRecord + ".mode"), "600\n");
  EXPECT_EQ(readFile(zRecord + ".seen"), "SELECT 1\n");  // a line end is added
  const fs::path name = readFile(zRecord + ".name");
  EXPECT_EQ(name.parent_path(), fs::path(zTmp));
  EXPECT_EQ(name.filename().string().rfind("sqlsh-edit-", 0), 0u) << name;
  EXPECT_EQ(name.extension(), ".sql");
  EXPECT_FALSE(fs::exists(name));
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(EditorScript, NothingChangesWhenTheEditorFailsOrLeavesNothing) {
  const struct {
    const char* zTitle;
    const char* zBody;
    const char* zWhy;
  } aCases[] = {
      {"non-zero exit", "echo 'SELECT 9;' > \"$1\"; exit 3\n", "the editor exited with status 3"},
      {"emptied", ": > \"$1\"\n", "the file was left empty"},
      {"blank", "printf '\\n \\t\\n' > \"$1\"\n", "the file was left empty"},
      {"removed", "rm \"$1\"\n", "cannot read the edited file back"},
      {"made a link", "rm \"$1\"; ln -s /etc/hostname \"$1\"\n",
       "cannot read the edited file back"},
      {"killed", "kill -9 $$\n", "the editor exited with status 137"},  // as /bin/sh reports it
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.zTitle);
    const EditedText edited = edit(c.zBody, "SELECT 1;");
    EXPECT_FALSE(edited.bChanged);
    EXPECT_EQ(edited.zWhy, c.zWhy);
    EXPECT_TRUE(leftInTemp().empty());
  }
}

TEST_F(EditorScript, AnEditorThatCannotRunOrAMissingDirectoryChangesNothing) {
  {
    ScopedEnv tmpdir("TMPDIR", zTmp);
    ScopedEnv visual("VISUAL", dir / "no such editor");
    const EditedText edited = editInExternalEditor("SELECT 1;");
    EXPECT_FALSE(edited.bChanged);
    EXPECT_EQ(edited.zWhy.rfind("cannot run the editor", 0), 0u) << edited.zWhy;
    EXPECT_TRUE(leftInTemp().empty());
  }
  ScopedEnv tmpdir("TMPDIR", dir / "missing");
  ScopedEnv visual("VISUAL", "true");
  const EditedText edited = editInExternalEditor("SELECT 1;");
  EXPECT_FALSE(edited.bChanged);
  EXPECT_EQ(edited.zWhy.rfind("cannot create a temporary file in " + (dir / "missing"), 0), 0u)
      << edited.zWhy;
}

}  // namespace external_editor_test
