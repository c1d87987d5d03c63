// Placeholder timer: reports itself available and prints nothing yet.
#include "shell/exec/Timer.h"

bool hasTimer() {
  return true;
}
void beginTimer() {}
void endTimer() {}
