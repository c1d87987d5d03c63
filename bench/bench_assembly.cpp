// Statement assembly in the input loop: a CREATE TRIGGER of many lines, each
// ending in ";", must be gathered in time linear in its length.
//
// Part 1 times the completeness check alone, for growing bodies: the tracker
// the input loop uses (each line looked at once) next to asking the engine's
// sqlite3_complete about the whole gathered text at every line ending in ";"
// (the quadratic way; measured once, at the smallest size only).
// Part 2 runs the whole script through processInput (reading, scanning,
// assembling and creating the trigger) and compares with the baseline of
// handing the same text to sqlite3_exec in one piece.  Prints processor
// times; the time per line should stay flat as the body grows.
//
//   bench_assembly [lines] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "shell/app/InputLoop.h"
#include "shell/core/ShellContext.h"

namespace {

using bench::cpuSeconds;
using bench::median;

std::vector<std::string> triggerLines(int nBody) {
  std::vector<std::string> lines;
  lines.emplace_back("create table t(a);");
  lines.emplace_back("create table u(b);");
  lines.emplace_back("create trigger tr after insert on t begin");
  for (int i = 0; i < nBody; i++) {
    lines.push_back("  insert into u values(" + std::to_string(i) + "); -- step " +
                    std::to_string(i));
  }
  lines.emplace_back("end;");
  return lines;
}

double timeTracker(const std::vector<std::string>& lines) {
  const double t0 = cpuSeconds();
  CompletenessTracker tracker;
  int nComplete = 0;
  for (const auto& line : lines) {
    tracker.addLine(line);
    if (tracker.isComplete()) {
      nComplete++;
      tracker.reset();
    }
  }
  const double t = cpuSeconds() - t0;
  if (nComplete != 3) std::fprintf(stderr, "tracker: %d statements, expected 3\n", nComplete);
  return t;
}

double timeWholeTextCheck(const std::vector<std::string>& lines) {
  const double t0 = cpuSeconds();
  std::string zSql;
  int nComplete = 0;
  for (const auto& line : lines) {
    if (!zSql.empty()) zSql += '\n';
    zSql += line;
    if (sqlite3_complete(zSql.c_str())) {
      nComplete++;
      zSql.clear();
    }
  }
  const double t = cpuSeconds() - t0;
  if (nComplete != 3) std::fprintf(stderr, "whole text: %d statements, expected 3\n", nComplete);
  return t;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string z;
  for (const auto& line : lines) z += line + "\n";
  return z;
}

ShellContext ctx;

double timeProcessInput(const std::string& zScript) {
  FILE* in = std::tmpfile();
  std::fwrite(zScript.data(), 1, zScript.size(), in);
  std::rewind(in);
  ctx.pIn = in;
  ctx.pConn->zFilename = ":memory:";
  const double t0 = cpuSeconds();
  const int rc = processInput(&ctx);
  const double t = cpuSeconds() - t0;
  if (rc != 0) std::fprintf(stderr, "processInput failed\n");
  std::fclose(in);
  ctx.pIn = nullptr;
  sqlite3_close(ctx.db);
  ctx.db = nullptr;
  ctx.pConn->db = nullptr;
  return t;
}

double timeExec(const std::string& zScript) {
  const double t0 = cpuSeconds();
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  if (sqlite3_exec(db, zScript.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "baseline failed: %s\n", sqlite3_errmsg(db));
  }
  sqlite3_close(db);
  return cpuSeconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  const int nLines = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  initShellContext(&ctx);

  std::printf("completeness check alone (processor seconds, microseconds per line):\n");
  for (int n = nLines / 8; n <= nLines; n *= 2) {
    const auto lines = triggerLines(n);
    std::vector<double> aTracker;
    for (int r = 0; r < nRuns; r++) aTracker.push_back(timeTracker(lines));
    const double tracker = median(aTracker);
    std::printf("  %7d lines: tracker %.4f s (%.3f us/line)", n, tracker, tracker * 1e6 / n);
    if (n == nLines / 8) {
      const double whole = timeWholeTextCheck(lines);  // once: it takes seconds
      std::printf(", whole text each line %.3f s (%.3f us/line)", whole, whole * 1e6 / n);
    }
    std::printf("\n");
  }

  const std::string zScript = joined(triggerLines(nLines));
  std::vector<double> aLoop, aExec;
  for (int r = 0; r < nRuns; r++) {
    aLoop.push_back(timeProcessInput(zScript));
    aExec.push_back(timeExec(zScript));
  }
  const double loop = median(aLoop);
  const double exec = median(aExec);
  std::printf(
      "input loop over a %d-line trigger: %.3f s, sqlite3_exec baseline %.3f s, ratio %.2f\n",
      nLines, loop, exec, loop / exec);
  return 0;
}
