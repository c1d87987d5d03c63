// The shell's entry: process preparation, options, initialization file.
#pragma once

struct ShellContext;

int shellMain(int argc, char** argv);
char* optionValue(int argc, char** argv, int i);
[[noreturn]] void printUsage(bool bShowDetail);
const char* homeDirectory(bool bClearFlag);
void runInitFile(ShellContext* p, const char* zInitFile);
