// completion: the table-valued function that lists the words that could complete
// a partly typed SQL input: keywords, database names, schema-object names and
// column names, filtered by a prefix.
//   SELECT candidate FROM completion(PREFIX [, WHOLELINE])
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string_view>

// Registers the eponymous module "completion" on db; returns the engine's result.
int completionRegister(sqlite3* db);

// The length in bytes of the run of ASCII letters, ASCII digits and '_' at the
// end of zLine: the word being typed when the line is all one knows.
size_t completionPrefixLength(std::string_view zLine);
