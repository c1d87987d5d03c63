// The operating-system services the shell's start-up needs: terminal tests,
// the Ctrl-C and termination handlers, the debugger break, the process id.
#pragma once

#include <string_view>

// True when the descriptor (0 stdin, 1 stdout, 2 stderr) is a terminal.
bool isTerminal(int fd);

// Writes all of z to the file descriptor, again after an interrupted or
// short write; false on an error.
bool writeFully(int fd, std::string_view z);
// The width in columns of the terminal on the descriptor, or 0 when it is
// not a terminal or does not say.
int terminalColumns(int fd);

// Installs the Ctrl-C handler: each Ctrl-C counts in nInterrupts and
// interrupts dbForInterrupt; the third one not yet consumed by the input
// loop ends the process with exit code 1.
void installInterruptHandler();

// The Ctrl-C action itself (async-signal-safe).
void onInterrupt();

// Installs the handlers of SIGHUP (the terminal went away) and SIGTERM for a
// session at the terminal: each interrupts the statement or command running
// and records the signal, and the input loop then ends the session at its
// next read; should it take more than two seconds, the process ends by the
// signal then.  A signal ignored when the shell started stays ignored.  With
// bDropInput, standard input is also replaced by an empty one, so that a
// plain read waiting at the terminal, or about to begin, sees the end of the
// input at once.
void installTerminationHandlers(bool bDropInput);
// The signal that asked the session to end, or 0.
int terminationSignal();
// When a signal asked the session to end: ends the process by that signal,
// with its default action, so that the parent learns how the shell ended.
void endByTerminationSignal();

// Stops in an attached debugger (SIGTRAP).
void debugBreak();

int currentProcessId();

// Prints the text on standard output, highlighted when the output is a terminal.
void printHighlighted(const char* zText);

// The bright-red escape sequence used by printHighlighted on terminals.
inline constexpr const char* zHighlightOn = "\x1b[1;31m";
inline constexpr const char* zHighlightOff = "\x1b[0m";
