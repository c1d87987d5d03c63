// The input loop sits at the top of the program, above the dot-commands; it
// installs itself here at start-up so that a command (.read) can run further
// input through it without reaching up a layer.
#pragma once

struct ShellContext;

using InputLoopFn = int (*)(ShellContext* p);

void setInputLoop(InputLoopFn xLoop);

// Runs the installed input loop over p->pIn; 1 (an error) when none is installed.
int runNestedInput(ShellContext* p);
