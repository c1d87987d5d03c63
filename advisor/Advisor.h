// The index advisor: proposes indexes for SQL statements written against a user's
// database and reports the query plan each statement would get with them.  The
// user's database is only read; all the work happens on two private in-memory
// databases that copy its schema.
//
// Lifecycle: sqlite3_expert_new -> advisorAddSql (any number of times) ->
// advisorAnalyze (once) -> advisorReport / advisorReportText -> advisorFree.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

struct IndexAdvisor;

// Options of advisorConfig.
constexpr int ADVISOR_CONFIG_SAMPLE = 1;  // percentage of rows sampled for statistics, 0..100

// Report kinds of advisorReport.
constexpr int ADVISOR_REPORT_SQL = 1;         // the statement's text
constexpr int ADVISOR_REPORT_INDEXES = 2;     // CREATE INDEX statements its plan uses
constexpr int ADVISOR_REPORT_PLAN = 3;        // its query plan, one line per step
constexpr int ADVISOR_REPORT_CANDIDATES = 4;  // every candidate index (statement ignored)

// Creates an advisor for the user's connection db (borrowed: it must outlive the
// advisor).  Returns null on failure; *pzErr then holds an error text allocated
// with sqlite3_mprintf when one is available (none when memory ran out).
IndexAdvisor* sqlite3_expert_new(sqlite3* db, char** pzErr);

// SQLITE_OK, or SQLITE_NOTFOUND for an unknown option.  ADVISOR_CONFIG_SAMPLE
// clamps the value to 0..100; 0 means no statistics.
int advisorConfig(IndexAdvisor* p, int eOption, int iValue);

// Adds one or more statements.  On failure nothing of zSql is kept and *pzErr
// (when pzErr is given) holds an sqlite3_mprintf text.  SQLITE_MISUSE after
// a successful advisorAnalyze.
int advisorAddSql(IndexAdvisor* p, const char* zSql, char** pzErr);

// Builds the candidate indexes, optionally measures statistics and takes the
// plan of every statement.  Error texts as for advisorAddSql.
int advisorAnalyze(IndexAdvisor* p, char** pzErr);

// Number of statements added so far.
int advisorCount(IndexAdvisor* p);

// The text of one report kind for statement iStmt (0 is the first statement
// added), or null when there is none or the analysis has not completed.  The
// text belongs to the advisor.
const char* advisorReport(IndexAdvisor* p, int iStmt, int eReport);

// Closes the private databases and frees the advisor.  Null is allowed.
void advisorFree(IndexAdvisor* p);

// The whole report of an analysed advisor as the .expert command prints it:
// with bVerbose the candidate list and each statement's text, then for every
// statement in input order its indexes (or "(no new indexes)") and its plan.
// A missing candidate or plan text prints as nothing.  Empty before analysis.
std::string advisorReportText(IndexAdvisor* p, bool bVerbose);

struct AdvisorDeleter {
  void operator()(IndexAdvisor* p) const { advisorFree(p); }
};
using AdvisorPtr = std::unique_ptr<IndexAdvisor, AdvisorDeleter>;
