// The statement in the user's editor: the text goes to a private temporary
// file, the editor ($VISUAL, else $EDITOR, else vi) runs on it, and what was
// saved comes back.  Used by Ctrl-X Ctrl-E at the keyboard and by .edit.
#pragma once

#include <string>
#include <string_view>

// The editor's command: $VISUAL, else $EDITOR (each when set and not blank),
// else "vi".  It is run by /bin/sh, so it may hold options ("code -w").
std::string externalEditorCommand();

// zText quoted for /bin/sh: in single quotes, any single quote written '\''.
std::string shellQuoted(std::string_view zText);

// The full command line that edits zFile: the editor's command followed by
// the quoted file name.
std::string editorCommandLine(const std::string& zEditor, const std::string& zFile);

// The directory of temporary files: $TMPDIR when it is set and not empty,
// else /tmp.
std::string temporaryDirectory();

// The outcome of one edit.
struct EditedText {
  bool bChanged = false;  // the editor succeeded and left text that is not blank
  std::string zText;      // what was saved (when bChanged)
  std::string zWhy;       // otherwise a short reason, e.g. "the editor exited with status 1"
};

// Writes zText (with a final line end) to a new file made exclusively, readable
// and writable by its owner only, named sqlsh-edit-XXXXXX.sql in the
// temporary directory; runs the editor on it through /bin/sh -c; reads the
// file back by name (editors may replace it) and removes it, whatever
// happened.  Standard output and error are flushed first.  Text left blank,
// an editor that cannot start or that exits with a non-zero status changes
// nothing.
EditedText editInExternalEditor(std::string_view zText);
