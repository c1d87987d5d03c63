// The operating-system services the shell's start-up needs: terminal tests,
// the Ctrl-C handler, the debugger break, the process id.
#pragma once

// True when the descriptor (0 stdin, 1 stdout, 2 stderr) is a terminal.
bool isTerminal(int fd);

// Installs the Ctrl-C handler: each Ctrl-C counts in nInterrupts and
// interrupts dbForInterrupt; the third one not yet consumed by the input
// loop ends the process with exit code 1.
void installInterruptHandler();

// The Ctrl-C action itself (async-signal-safe).
void onInterrupt();

// Stops in an attached debugger (SIGTRAP).
void debugBreak();

int currentProcessId();

// Prints the text on standard output, highlighted when the output is a terminal.
void printHighlighted(const char* zText);

// The bright-red escape sequence used by printHighlighted on terminals.
inline constexpr const char* zHighlightOn = "\x1b[1;31m";
inline constexpr const char* zHighlightOff = "\x1b[0m";
