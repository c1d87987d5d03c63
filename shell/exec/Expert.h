// The index advisor armed by .expert: the pipeline hands it the next SQL input
// instead of running it, and the report is printed on the current output.
#pragma once

struct ShellContext;

// Passes one SQL input text to the armed advisor.
int feedExpert(ShellContext* p, const char* zSql, char** pzErr);

// Analyses and prints the report unless bCancel is set; then frees the advisor
// and disarms it.  Returns the analysis result (SQLITE_OK when cancelled).
int closeExpert(ShellContext* p, bool bCancel, char** pzErr);

// Arms the advisor with the options of .expert (state already cleared).
int armExpert(ShellContext* p, char** azArg, int nArg);
