// banka: a small banking demonstration over the database "Banka_autoincrement.db".  It lists
// the clients and the accounts and moves money between two accounts inside a transaction,
// once with a simulated power failure (rolled back) and once to completion.

#include <sqlite3.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

// The power went out in the middle of a transfer.
class exceptionNestalaStruja : public std::exception {
 public:
  const char* what() const noexcept override { return "Nestala struja!"; }
};

namespace {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Prepares with the legacy interface and a byte limit of 256, as every query here does.
int prepareLegacy(sqlite3* db, const char* zSql, StmtPtr& stmt) {
  sqlite3_stmt* pStmt = nullptr;
  const char* zTail = nullptr;
  int rc = sqlite3_prepare(db, zSql, 256, &pStmt, &zTail);
  stmt.reset(pStmt);
  return rc;
}

// A text column, with NULL shown as "(null)" rather than handed to printf as a null pointer.
const char* columnText(sqlite3_stmt* pStmt, int iCol) {
  const unsigned char* z = sqlite3_column_text(pStmt, iCol);
  return z ? reinterpret_cast<const char*>(z) : "(null)";
}

}  // namespace

void printClients(sqlite3* db) {
  StmtPtr stmt;
  if (prepareLegacy(db, "select idKom, Naziv, Adresa from Komitent", stmt) != SQLITE_OK) {
    printf("SQL error: %s \n", sqlite3_errmsg(db));
    return;
  }
  printf("Svi useri:\n");
  sqlite3_stmt* pStmt = stmt.get();
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    if (sqlite3_column_type(pStmt, 0) == SQLITE_INTEGER) {
      printf("%d \t", sqlite3_column_int(pStmt, 0));
    }
    printf("%s \t", columnText(pStmt, 1));
    printf("%s \n", columnText(pStmt, 2));
  }
  printf("\n");
}

void printClientsAtAddress(sqlite3* db, const char* zAddress) {
  StmtPtr stmt;
  if (prepareLegacy(db, "select idKom, Naziv, Adresa from Komitent where Adresa=?", stmt) !=
      SQLITE_OK) {
    printf("SQL error: %s \n", sqlite3_errmsg(db));
    return;
  }
  printf("Svi useri na adresi %s:\n", zAddress);
  sqlite3_stmt* pStmt = stmt.get();
  sqlite3_bind_text(pStmt, 1, zAddress, -1, SQLITE_STATIC);
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    printf("%d \t", sqlite3_column_int(pStmt, 0));
    printf("%s \t", columnText(pStmt, 1));
    printf("%s \n", columnText(pStmt, 2));
  }
  printf("\n");
}

void printAccounts(sqlite3* db) {
  StmtPtr stmt;
  if (prepareLegacy(db, "select idRac, Stanje, Status from Racun", stmt) != SQLITE_OK) {
    printf("SQL error: %s \n", sqlite3_errmsg(db));
    return;
  }
  printf("Svi racuni:\n");
  sqlite3_stmt* pStmt = stmt.get();
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    printf("%d \t", sqlite3_column_int(pStmt, 0));
    printf("%d \t", sqlite3_column_int(pStmt, 1));
    printf("%s \n", columnText(pStmt, 2));
  }
  printf("\n");
}

// Moves nAmount from account iFrom to account iTo in one transaction.  Both updates run; the
// transaction commits only when both succeeded and each changed its account's row, so money
// can neither vanish into a missing account nor appear from one.  With bSimulateFailure the
// power fails after the debit, and the debit is rolled back.
void transferFunds(sqlite3* db, int iFrom, int iTo, int nAmount, bool bSimulateFailure) {
  bool bFailed = false;
  std::string zError;  // the engine's message for the first failure, taken when it happens
  int aMissing[2];
  int nMissing = 0;
  StmtPtr stmt;
  auto update = [&](sqlite3_stmt* pStmt, int nDelta, int iAccount) {
    sqlite3_bind_int(pStmt, 1, nDelta);
    sqlite3_bind_int(pStmt, 2, iAccount);
    if (sqlite3_step(pStmt) != SQLITE_DONE) {
      sqlite3_reset(pStmt);  // the legacy interface reports the precise error here
      if (!bFailed) zError = sqlite3_errmsg(db);
      bFailed = true;
    } else if (sqlite3_changes(db) == 0) {
      aMissing[nMissing++] = iAccount;
    }
  };
  sqlite3_exec(db, "BEGIN TRANSACTION", nullptr, nullptr, nullptr);
  try {
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare(db, "UPDATE Racun SET Stanje=Stanje + ? WHERE IdRac= ?", 256, &pStmt,
                        nullptr) != SQLITE_OK) {
      bFailed = true;
      zError = sqlite3_errmsg(db);
    }
    stmt.reset(pStmt);
    if (pStmt) {
      update(pStmt, -nAmount, iFrom);
      if (bSimulateFailure) throw exceptionNestalaStruja();
      sqlite3_reset(pStmt);
      sqlite3_clear_bindings(pStmt);
      update(pStmt, nAmount, iTo);
    }
    stmt.reset();
  } catch (std::exception&) {
    stmt.reset();
    sqlite3_exec(db, "ROLLBACK TRANSACTION", nullptr, nullptr, nullptr);
    return;
  }
  if (bFailed || nMissing > 0) {
    if (bFailed) printf("Greska: %s\n", zError.c_str());
    for (int i = 0; i < nMissing; i++) printf("Greska: racun %d ne postoji\n", aMissing[i]);
    sqlite3_exec(db, "ROLLBACK TRANSACTION", nullptr, nullptr, nullptr);
  } else {
    sqlite3_exec(db, "COMMIT TRANSACTION", nullptr, nullptr, nullptr);
  }
}

// Adds a client and returns the number the database gave it, or -1.
int insertClient(sqlite3* db, const char* zName, const char* zAddress) {
  StmtPtr stmt;
  if (prepareLegacy(db, "insert into Komitent (naziv, adresa) values( ?, ?)", stmt) == SQLITE_OK) {
    sqlite3_stmt* pStmt = stmt.get();
    sqlite3_bind_text(pStmt, 1, zName, -1, SQLITE_STATIC);
    sqlite3_bind_text(pStmt, 2, zAddress, -1, SQLITE_STATIC);
    if (sqlite3_step(pStmt) == SQLITE_DONE) {
      int idKom = static_cast<int>(sqlite3_last_insert_rowid(db));
      printf("Dodat je komitent sa id %d\n", idKom);
      return idKom;
    }
  }
  printf("SQL error: %s \n", sqlite3_errmsg(db));
  return -1;
}

// Runs SQL text without looking at any result rows.
void execSql(sqlite3* db, const char* zSql) {
  char* zErrMsg = nullptr;
  if (sqlite3_exec(db, zSql, nullptr, nullptr, &zErrMsg) != SQLITE_OK) {
    printf("Greska: %s\n", zErrMsg ? zErrMsg : sqlite3_errmsg(db));
    sqlite3_free(zErrMsg);
  }
}

int main() {
  sqlite3* db = nullptr;
  if (sqlite3_open("Banka_autoincrement.db", &db) != SQLITE_OK) {
    printf("Greska prilikom povezivanja na bazu: %s \n", sqlite3_errmsg(db));
    sqlite3_close(db);
    return 0;
  }
  printf("Uspesno smo se konektovali\n\n");
  printClients(db);
  printClientsAtAddress(db, "Lipova 39");
  printf("Pre izvrsenog transfera\n");
  printAccounts(db);
  transferFunds(db, 1, 2, 100, true);
  printf("Posle neuspesno izvrsenog transfera\n");
  printAccounts(db);
  transferFunds(db, 1, 2, 100, false);
  printf("Posle uspesno izvrsenog transfera\n");
  printAccounts(db);
  sqlite3_close(db);
  return 0;
}
