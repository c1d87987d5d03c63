// Handlers of the dot-commands, one group per source file.
#pragma once

#include <string>

struct ShellContext;

// help (Dispatch.cpp)
int doHelp(ShellContext* p, int nArg, char** azArg);

// display settings (display.cpp)
int doBail(ShellContext* p, int nArg, char** azArg);
int doBinary(ShellContext* p, int nArg, char** azArg);
int doChanges(ShellContext* p, int nArg, char** azArg);
int doEcho(ShellContext* p, int nArg, char** azArg);
int doEqp(ShellContext* p, int nArg, char** azArg);
int doExplain(ShellContext* p, int nArg, char** azArg);
int doHeaders(ShellContext* p, int nArg, char** azArg);
int doMode(ShellContext* p, int nArg, char** azArg);
int doNullvalue(ShellContext* p, int nArg, char** azArg);
int doPrint(ShellContext* p, int nArg, char** azArg);
int doPrompt(ShellContext* p, int nArg, char** azArg);
int doScanstats(ShellContext* p, int nArg, char** azArg);
int doSeparator(ShellContext* p, int nArg, char** azArg);
int doShow(ShellContext* p, int nArg, char** azArg);
int doStats(ShellContext* p, int nArg, char** azArg);
int doTimer(ShellContext* p, int nArg, char** azArg);
int doWidth(ShellContext* p, int nArg, char** azArg);

// the terminal's window (window.cpp)
enum class ExpandedMode : unsigned char;
int doExpanded(ShellContext* p, int nArg, char** azArg);
// "auto", "on" or "off", as .expanded and .show name the setting.
const char* expandedModeName(ExpandedMode eMode);
int doPager(ShellContext* p, int nArg, char** azArg);
// The pager policy and the command it runs, as .pager and .show print them.
std::string pagerSetting(const ShellContext* p);

// output redirection: .output, .once, .excel (output.cpp)
int doOutput(ShellContext* p, int nArg, char** azArg);

// schema display (schema.cpp)
int doDatabases(ShellContext* p, int nArg, char** azArg);
int doFullschema(ShellContext* p, int nArg, char** azArg);
int doSchema(ShellContext* p, int nArg, char** azArg);
int doTables(ShellContext* p, int nArg, char** azArg);  // also .indexes/.indices

// database dump (dump.cpp)
int doDump(ShellContext* p, int nArg, char** azArg);

// the index advisor (expert.cpp)
int doExpert(ShellContext* p, int nArg, char** azArg);

// SHA-3 digests of the database (sha3sum.cpp)
int doSha3sum(ShellContext* p, int nArg, char** azArg);

// import (import.cpp)
int doImport(ShellContext* p, int nArg, char** azArg);

// safe mode: .auth, .nonce (safemode.cpp)
int doAuth(ShellContext* p, int nArg, char** azArg);
int doNonce(ShellContext* p, int nArg, char** azArg);

// statement parameters: .parameter (parameter.cpp)
int doParameter(ShellContext* p, int nArg, char** azArg);

// connection and file commands (connection.cpp)
int doBackup(ShellContext* p, int nArg, char** azArg);  // also .save
int doCd(ShellContext* p, int nArg, char** azArg);
int doClone(ShellContext* p, int nArg, char** azArg);
int doConnection(ShellContext* p, int nArg, char** azArg);
int doExit(ShellContext* p, int nArg, char** azArg);
int doLoad(ShellContext* p, int nArg, char** azArg);
int doLog(ShellContext* p, int nArg, char** azArg);
int doOpen(ShellContext* p, int nArg, char** azArg);
int doQuit(ShellContext* p, int nArg, char** azArg);
int doRead(ShellContext* p, int nArg, char** azArg);
int doRestore(ShellContext* p, int nArg, char** azArg);
int doShell(ShellContext* p, int nArg, char** azArg);  // also .system
int doTimeout(ShellContext* p, int nArg, char** azArg);
int doVersion(ShellContext* p, int nArg, char** azArg);

// engine control (engine.cpp)
int doBreakpoint(ShellContext* p, int nArg, char** azArg);
int doDbconfig(ShellContext* p, int nArg, char** azArg);
int doFilectrl(ShellContext* p, int nArg, char** azArg);
int doImposter(ShellContext* p, int nArg, char** azArg);
int doLimits(ShellContext* p, int nArg, char** azArg);
int doProgress(ShellContext* p, int nArg, char** azArg);
int doSelecttrace(ShellContext* p, int nArg, char** azArg);  // also .treetrace
int doTestctrl(ShellContext* p, int nArg, char** azArg);
int doTrace(ShellContext* p, int nArg, char** azArg);
int doVfsinfo(ShellContext* p, int nArg, char** azArg);
int doVfslist(ShellContext* p, int nArg, char** azArg);
int doVfsname(ShellContext* p, int nArg, char** azArg);
int doWheretrace(ShellContext* p, int nArg, char** azArg);

// maintenance and test commands (maintenance.cpp)
int doCheck(ShellContext* p, int nArg, char** azArg);
int doLint(ShellContext* p, int nArg, char** azArg);
int doSelftest(ShellContext* p, int nArg, char** azArg);
int doTestcase(ShellContext* p, int nArg, char** azArg);

// the statement in the user's editor: .edit (edit.cpp)
int doEdit(ShellContext* p, int nArg, char** azArg);

// a statement run at an interval: .watch (watch.cpp)
int doWatch(ShellContext* p, int nArg, char** azArg);
