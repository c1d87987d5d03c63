// Safe mode: the refusal that ends the process, and the authorizers that
// enforce and trace what the engine is asked to do.
#pragma once

struct ShellContext;

// In safe mode (bSafeActive), prints "line N: " and the formatted message on
// standard error and ends the process with status 1; otherwise does nothing.
void rejectInSafeMode(ShellContext* p, const char* zFormat, ...);

// The engine authorizer of safe mode: refuses ATTACH and the functions that
// reach outside the database, by ending the process.  Always returns SQLITE_OK.
int safeModeAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                       const char* zA4);
