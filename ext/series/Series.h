// generate_series: the table-valued function that yields an arithmetic series of
// 64-bit integers, generate_series(START, STOP, STEP).
#pragma once

#include <sqlite3.h>

#include <cstdint>

// Registers the eponymous module "generate_series" on db.  With a library older
// than 3.8.12 it fails with SQLITE_ERROR, and when pzErrMsg is given, stores
// there a message allocated with sqlite3_mprintf (the caller frees it).
int seriesRegister(sqlite3* db, char** pzErrMsg = nullptr);

// One step along a series that runs from iFirst to iLast (inclusive) with the
// step magnitude nStep (1 to 2^63).  Moves *piCurrent one step towards
// iLast when bDescending is false, towards iFirst when it is true.  Returns
// false, leaving *piCurrent alone, when the next member would lie beyond the
// bound (and so possibly beyond the range of a 64-bit integer): the series ends.
bool seriesStep(int64_t* piCurrent, int64_t iFirst, int64_t iLast, uint64_t nStep,
                bool bDescending);

// The first member of the descending walk over the series iFirst, iFirst+nStep,
// ... <= iLast: the largest member, which is iLast lowered by the remainder of
// (iLast - iFirst) divided by nStep.  Computed without overflow for any pair
// with iFirst <= iLast; returns iLast when iLast < iFirst (an empty series).
int64_t seriesLastMember(int64_t iFirst, int64_t iLast, uint64_t nStep);
