// The statistics report of .stats and -stats: the engine's global counters,
// the connection's and the current statement's.
#pragma once

#include <sqlite3.h>

struct ShellContext;

// Prints the report that p->eStatsMode asks for to p->pOut: only the VM steps
// of the current statement for "vmstep"; otherwise the global and connection
// counters and, with a current statement, its counters (preceded by its
// columns for "stmt").  bReset resets the counters read, where the engine
// allows it.  Does nothing without a record or an output.
void displayStats(sqlite3* db, ShellContext* p, int bReset);

// One line of the global counters: "%-36s %s\n" with zLabel and zFormat
// filled with the current and highest values when zFormat has two
// conversions, otherwise with the highest value alone.
void printStatusLine(ShellContext* p, const char* zLabel, const char* zFormat, int eStatus,
                     int bReset);
