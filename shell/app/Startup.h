// The shell's entry: process preparation, options, initialization file.
#pragma once

#include <cstdint>

struct ShellContext;

int shellMain(int argc, char** argv);
char* optionValue(int argc, char** argv, int i);
[[noreturn]] void printUsage(bool bShowDetail);
const char* homeDirectory(bool bClearFlag);
void runInitFile(ShellContext* p, const char* zInitFile);

// The page-cache slots to set up for -pagecache: nSlots of szSlot bytes, lowered
// so that they fit in nMemoryLimit bytes and the engine's int count.
int64_t pageCacheSlots(int64_t szSlot, int64_t nSlots, int64_t nMemoryLimit);
// The memory a page cache may take: half of what the machine has free and
// half of what this process may map or allocate, whichever is least.
int64_t pageCacheMemoryLimit();
