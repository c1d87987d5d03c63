// banka_seed: runs an SQL script on a database file, creating the file when it is missing.
// The demonstration's run command uses it to create the sample database from demo/seed.sql.
// On failure a file that did not exist before is removed again, so that the next run retries.
//
//   banka_seed DATABASE SCRIPT

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};

int seed(const char* zDb, const std::string& zSql) {
  sqlite3* pDb = nullptr;
  int rc = sqlite3_open(zDb, &pDb);
  std::unique_ptr<sqlite3, DbCloser> db(pDb);
  if (rc != SQLITE_OK) {
    fprintf(stderr, "banka_seed: cannot open %s: %s\n", zDb, sqlite3_errmsg(pDb));
    return 1;
  }
  char* zErrMsg = nullptr;
  if (sqlite3_exec(pDb, zSql.c_str(), nullptr, nullptr, &zErrMsg) != SQLITE_OK) {
    fprintf(stderr, "banka_seed: %s: %s\n", zDb, zErrMsg ? zErrMsg : sqlite3_errmsg(pDb));
    sqlite3_free(zErrMsg);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "Usage: %s DATABASE SCRIPT\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    fprintf(stderr, "banka_seed: cannot read %s\n", argv[2]);
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  bool bExisted = access(argv[1], F_OK) == 0;
  int rc = seed(argv[1], ss.str());
  if (rc != 0 && !bExisted) unlink(argv[1]);
  return rc;
}
