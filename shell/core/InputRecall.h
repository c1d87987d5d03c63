// What the input remembers between entries: the last SQL the shell ran
// (which .watch and .edit take up again), and text that a command hands back
// to the input it was read from (.edit), to be read next as if typed.
#pragma once

#include <string>
#include <string_view>

// Keeps zSql as the last SQL run, whatever its outcome.
void rememberStatement(std::string_view zSql);
// The last SQL run in this session, or "" before the first.
const std::string& lastStatement();

// Appends zText to the text waiting to be read by the input loop that runs
// the current command.
void queueInput(std::string_view zText);
// Takes all the text waiting; "" when none.
std::string takeQueuedInput();
