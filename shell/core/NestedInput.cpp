#include "shell/core/NestedInput.h"

namespace {
InputLoopFn xInputLoop = nullptr;
}  // namespace

void setInputLoop(InputLoopFn xLoop) {
  xInputLoop = xLoop;
}

int runNestedInput(ShellContext* p) {
  return xInputLoop ? xInputLoop(p) : 1;
}
