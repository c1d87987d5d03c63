// SHA-3 message digests (FIPS 202) for SQL: the incremental hasher over the Keccak-f[1600]
// permutation, the SQL functions sha3(X [, SIZE]) and sha3_query(SQL [, SIZE]), and the pieces
// the .sha3sum dot-command is made of.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An incremental SHA-3 context.  The state is 25 lanes of 64 bits; byte i of a block lands in
// byte i mod 8 (counted from the least significant end) of lane i / 8.
struct Sha3Hasher {
  uint64_t aLane[25];
  unsigned nBlockBytes;   // rate in bytes, fixed by sha3Begin
  unsigned nInBlock;      // bytes of the current block absorbed so far (< nBlockBytes)
  unsigned byteSwapMask;  // 0 on little-endian hosts, 7 on big-endian ones
};

// Clears the context and sets the rate for a digest of iSize bits: 224 -> 144 bytes,
// 256 -> 136, 384 -> 104, 512 -> 72; in general (1600 - 2 * (iSize rounded up to a multiple
// of 32)) / 8 for 128 <= iSize <= 512, and 136 for any other size.
void sha3Begin(Sha3Hasher* pHasher, int iSize);

// Absorbs nData bytes; a null pData absorbs nothing.
void sha3Absorb(Sha3Hasher* pHasher, const void* pData, size_t nData);

// Formats the arguments with sqlite3_vsnprintf into a 50-byte buffer (longer results are cut)
// and absorbs the text without its terminator.
void sha3AbsorbFormat(Sha3Hasher* pHasher, const char* zFormat, ...);

// Pads the message and returns the digest: the first iSize / 8 bytes of the returned buffer,
// which stays valid as long as the context.  The context must be begun again before reuse.
const unsigned char* sha3Finish(Sha3Hasher* pHasher);

// The Keccak-f[1600] permutation over 25 lanes.
void keccakF1600(uint64_t* aLane);

// True for the digest sizes the SQL functions accept: 224, 256, 384 and 512.
bool sha3SizeIsValid(sqlite3_int64 iSize);

// Runs every statement of zSql on db and absorbs sha3_query's byte stream: for each statement
// "S<bytes>:<text>", then per row "R" and per column I+8 bytes, F+8 bytes (big-endian),
// "T<bytes>:<text>", "B<bytes>:<bytes>" or "N".  Returns SQLITE_OK, or an error code with
// *pzErr set to a message from sqlite3_mprintf (the caller frees it; null when out of memory)
// when a statement fails to prepare, is not read-only, or fails while stepping.
int sha3HashQuery(sqlite3* db, const char* zSql, Sha3Hasher* pHasher, char** pzErr);

// Registers sha3 (1 and 2 arguments) and sha3_query (1 and 2 arguments) with db, in that
// order; returns the first failure, or SQLITE_OK.
int sha3Register(sqlite3* db);

// The .sha3sum command.
//
// The query whose rows .sha3sum hashes for the table zName (as listed, lower-cased):
// SELECT * FROM "name" NOT INDEXED; for ordinary tables, and ordered queries over
// sqlite_schema, sqlite_sequence, sqlite_stat1 and sqlite_stat4.
std::string sha3sumTableQuery(std::string_view zName);

// Builds the statement .sha3sum runs (or prints with --debug) over the tables of db's main
// database.  zLikePattern (nullable) selects tables with LIKE and asks for one digest per
// table; a pattern that begins with "sqlite_" includes the internal tables, as does
// bInternal (--schema).  iSize is the digest size in bits.  On success *pzSql receives the
// statement (free with sqlite3_free) and SQLITE_OK is returned; SQLITE_NOMEM when out of
// memory; an error of listing the tables is returned with its message in sqlite3_errmsg(db).
// With no table selected the statement is not valid SQL, and running it reports that.
int sha3sumBuildSql(sqlite3* db, const char* zLikePattern, bool bInternal, int iSize, char** pzSql);
