// The held row output of the row renderers (see Output.h).  A file of its
// own: the engine's log callback flushes it, and a program that links the
// state record without the printers (a fuzz target with printers of its own)
// must not pull them in.
#include "shell/core/Output.h"

#include <unistd.h>

#include <cstdio>

namespace {

struct HeldRows {
  StagedOutput out{nullptr};
  FILE* f = nullptr;
  bool bHold = false;
};

HeldRows& heldRows() {
  // Never destroyed: nothing is held at the end, and the stream may be
  // closed by then.
  static HeldRows* pHeld = new HeldRows;
  return *pHeld;
}

}  // namespace

StagedOutput& beginRowOutput(FILE* out, bool bFirstOfResult) {
  HeldRows& h = heldRows();
  if (h.f != out || bFirstOfResult) {
    h.out.reset(out);
    h.f = out;
    const int fd = fileno(out);
    h.bHold = fd >= 0 && !isatty(fd);
  }
  return h.out;
}

void endRowOutput() {
  HeldRows& h = heldRows();
  if (!h.bHold) h.out.flush();
}

void flushRowOutput() {
  heldRows().out.flush();
}
