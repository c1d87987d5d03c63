// The pager: a destination for the output of one input at the terminal.
// The output is held back until it is taller than the window (at most about
// one screen is held), then handed to the pager as it is produced; output
// that fits goes to the terminal unchanged.
#pragma once

#include <cstdio>
#include <string>

struct ShellContext;

// ShellContext::ePagerMode.
enum class PagerMode : unsigned char {
  On = 0,      // output taller than the window goes through the pager
  Off = 1,     // never
  Always = 2,  // all output of an input at the terminal
};

// The pager command: .pager COMMAND, else $SQLSH_PAGER, else $PAGER, else
// less (quitting at once when the text fits, passing colours, leaving the
// screen as it is, chopping long lines), else more; no default pager on a
// terminal that is unnamed or dumb.  Empty: none.
std::string pagerCommand(const ShellContext* p);

// Before the shell runs one input read at the keyboard: when the output is
// the terminal and the policy allows, pOut becomes the paged stream.
void beginPagedOutput(ShellContext* p);
// After that input: what was held goes to the terminal, or the pager gets
// the rest of its input and the shell waits until it has exited.  A pager
// that was quit early made the statement stop as a reader that went away
// does: quietly.
void endPagedOutput(ShellContext* p);

// True while the pager of the current input runs.
bool pagerRunning();
// The stream the current input is written to when it is paged, or null.
FILE* pagedStream();
