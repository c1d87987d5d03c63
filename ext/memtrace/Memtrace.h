// Memory tracing: a thin layer over SQLite's allocator that prints one line for every allocation,
// release and resize the engine makes.
#pragma once

#include <sqlite3.h>

#include <cstdio>

// Installs the tracing allocator over the one in place (the first call only; like every
// sqlite3_config call this works only before sqlite3_initialize or after sqlite3_shutdown) and
// directs the lines to pOut; a null stream keeps the layer but silences it. Returns the result
// of the configuration calls, SQLITE_OK when nothing needed configuring.
int memtraceStart(FILE* pOut);
