// SHA-3 (FIPS 202) over Keccak-f[1600], and the SQL functions sha3 and sha3_query.
#include "ext/sha3/Sha3.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <memory>

namespace {

constexpr bool kBigEndianHost = std::endian::native == std::endian::big;

constexpr uint64_t kRoundConstants[24] = {
    0x0000000000000001ULL, 0x0000000000008082ULL, 0x800000000000808aULL, 0x8000000080008000ULL,
    0x000000000000808bULL, 0x0000000080000001ULL, 0x8000000080008081ULL, 0x8000000000008009ULL,
    0x000000000000008aULL, 0x0000000000000088ULL, 0x0000000080008009ULL, 0x000000008000000aULL,
    0x000000008000808bULL, 0x800000000000008bULL, 0x8000000000008089ULL, 0x8000000000008003ULL,
    0x8000000000008002ULL, 0x8000000000000080ULL, 0x000000000000800aULL, 0x800000008000000aULL,
    0x8000000080008081ULL, 0x8000000000008080ULL, 0x0000000080000001ULL, 0x8000000080008008ULL};

inline uint64_t toLittleEndian(uint64_t v) {
  if constexpr (kBigEndianHost) return __builtin_bswap64(v);
  return v;
}

}  // namespace

// The 24 rounds, four per pass, with the lanes held in locals so that they live in registers.
void keccakF1600(uint64_t* aLane) {
  uint64_t a00 = aLane[0], a01 = aLane[1], a02 = aLane[2], a03 = aLane[3], a04 = aLane[4];
  uint64_t a05 = aLane[5], a06 = aLane[6], a07 = aLane[7], a08 = aLane[8], a09 = aLane[9];
  uint64_t a10 = aLane[10], a11 = aLane[11], a12 = aLane[12], a13 = aLane[13], a14 = aLane[14];
  uint64_t a15 = aLane[15], a16 = aLane[16], a17 = aLane[17], a18 = aLane[18], a19 = aLane[19];
  uint64_t a20 = aLane[20], a21 = aLane[21], a22 = aLane[22], a23 = aLane[23], a24 = aLane[24];

  // One round: theta (column parities), rho and pi (rotate each lane into its new place),
  // chi (the non-linear row step) and iota (the round constant).  Lane index is x + 5y.
  auto round = [&](uint64_t roundConstant) __attribute__((always_inline)) {
    const uint64_t c0 = a00 ^ a05 ^ a10 ^ a15 ^ a20;
    const uint64_t c1 = a01 ^ a06 ^ a11 ^ a16 ^ a21;
    const uint64_t c2 = a02 ^ a07 ^ a12 ^ a17 ^ a22;
    const uint64_t c3 = a03 ^ a08 ^ a13 ^ a18 ^ a23;
    const uint64_t c4 = a04 ^ a09 ^ a14 ^ a19 ^ a24;
    const uint64_t d0 = c4 ^ std::rotl(c1, 1);
    const uint64_t d1 = c0 ^ std::rotl(c2, 1);
    const uint64_t d2 = c1 ^ std::rotl(c3, 1);
    const uint64_t d3 = c2 ^ std::rotl(c4, 1);
    const uint64_t d4 = c3 ^ std::rotl(c0, 1);
    const uint64_t b00 = a00 ^ d0;
    const uint64_t b01 = std::rotl(a06 ^ d1, 44);
    const uint64_t b02 = std::rotl(a12 ^ d2, 43);
    const uint64_t b03 = std::rotl(a18 ^ d3, 21);
    const uint64_t b04 = std::rotl(a24 ^ d4, 14);
    const uint64_t b05 = std::rotl(a03 ^ d3, 28);
    const uint64_t b06 = std::rotl(a09 ^ d4, 20);
    const uint64_t b07 = std::rotl(a10 ^ d0, 3);
    const uint64_t b08 = std::rotl(a16 ^ d1, 45);
    const uint64_t b09 = std::rotl(a22 ^ d2, 61);
    const uint64_t b10 = std::rotl(a01 ^ d1, 1);
    const uint64_t b11 = std::rotl(a07 ^ d2, 6);
    const uint64_t b12 = std::rotl(a13 ^ d3, 25);
    const uint64_t b13 = std::rotl(a19 ^ d4, 8);
    const uint64_t b14 = std::rotl(a20 ^ d0, 18);
    const uint64_t b15 = std::rotl(a04 ^ d4, 27);
    const uint64_t b16 = std::rotl(a05 ^ d0, 36);
    const uint64_t b17 = std::rotl(a11 ^ d1, 10);
    const uint64_t b18 = std::rotl(a17 ^ d2, 15);
    const uint64_t b19 = std::rotl(a23 ^ d3, 56);
    const uint64_t b20 = std::rotl(a02 ^ d2, 62);
    const uint64_t b21 = std::rotl(a08 ^ d3, 55);
    const uint64_t b22 = std::rotl(a14 ^ d4, 39);
    const uint64_t b23 = std::rotl(a15 ^ d0, 41);
    const uint64_t b24 = std::rotl(a21 ^ d1, 2);
    a00 = b00 ^ (~b01 & b02);
    a01 = b01 ^ (~b02 & b03);
    a02 = b02 ^ (~b03 & b04);
    a03 = b03 ^ (~b04 & b00);
    a04 = b04 ^ (~b00 & b01);
    a05 = b05 ^ (~b06 & b07);
    a06 = b06 ^ (~b07 & b08);
    a07 = b07 ^ (~b08 & b09);
    a08 = b08 ^ (~b09 & b05);
    a09 = b09 ^ (~b05 & b06);
    a10 = b10 ^ (~b11 & b12);
    a11 = b11 ^ (~b12 & b13);
    a12 = b12 ^ (~b13 & b14);
    a13 = b13 ^ (~b14 & b10);
    a14 = b14 ^ (~b10 & b11);
    a15 = b15 ^ (~b16 & b17);
    a16 = b16 ^ (~b17 & b18);
    a17 = b17 ^ (~b18 & b19);
    a18 = b18 ^ (~b19 & b15);
    a19 = b19 ^ (~b15 & b16);
    a20 = b20 ^ (~b21 & b22);
    a21 = b21 ^ (~b22 & b23);
    a22 = b22 ^ (~b23 & b24);
    a23 = b23 ^ (~b24 & b20);
    a24 = b24 ^ (~b20 & b21);
    a00 ^= roundConstant;
  };

  for (int iRound = 0; iRound < 24; iRound += 4) {
    round(kRoundConstants[iRound]);
    round(kRoundConstants[iRound + 1]);
    round(kRoundConstants[iRound + 2]);
    round(kRoundConstants[iRound + 3]);
  }

  aLane[0] = a00, aLane[1] = a01, aLane[2] = a02, aLane[3] = a03, aLane[4] = a04;
  aLane[5] = a05, aLane[6] = a06, aLane[7] = a07, aLane[8] = a08, aLane[9] = a09;
  aLane[10] = a10, aLane[11] = a11, aLane[12] = a12, aLane[13] = a13, aLane[14] = a14;
  aLane[15] = a15, aLane[16] = a16, aLane[17] = a17, aLane[18] = a18, aLane[19] = a19;
  aLane[20] = a20, aLane[21] = a21, aLane[22] = a22, aLane[23] = a23, aLane[24] = a24;
}

void sha3Begin(Sha3Hasher* pHasher, int iSize) {
  std::memset(pHasher, 0, sizeof(*pHasher));
  if (iSize >= 128 && iSize <= 512) {
    pHasher->nBlockBytes = static_cast<unsigned>(1600 - ((iSize + 31) & ~31) * 2) / 8;
  } else {
    pHasher->nBlockBytes = (1600 - 2 * 256) / 8;
  }
  pHasher->byteSwapMask = kBigEndianHost ? 7 : 0;
}

namespace {

inline unsigned char* stateBytes(Sha3Hasher* pHasher) {
  return reinterpret_cast<unsigned char*>(pHasher->aLane);
}

inline void absorbByte(Sha3Hasher* pHasher, unsigned char c) {
  stateBytes(pHasher)[pHasher->nInBlock ^ pHasher->byteSwapMask] ^= c;
  if (++pHasher->nInBlock == pHasher->nBlockBytes) {
    keccakF1600(pHasher->aLane);
    pHasher->nInBlock = 0;
  }
}

}  // namespace

void sha3Absorb(Sha3Hasher* pHasher, const void* pData, size_t nData) {
  if (pData == nullptr) return;
  const auto* z = static_cast<const unsigned char*>(pData);
  unsigned char* aByte = stateBytes(pHasher);
  const unsigned mSwap = pHasher->byteSwapMask;
  // The rate is a whole number of lanes, so only the last byte of a lane can complete a block:
  // bytes up to a lane boundary, then whole lanes, then fewer than 8 bytes that stay inside
  // the block.
  if (const unsigned iInLane = pHasher->nInBlock & 7; iInLane != 0) {
    const size_t nHead = std::min<size_t>(nData, 8 - iInLane);
    for (size_t i = 0; i < nHead; ++i) aByte[(pHasher->nInBlock + i) ^ mSwap] ^= z[i];
    z += nHead;
    nData -= nHead;
    pHasher->nInBlock += static_cast<unsigned>(nHead);
    if (pHasher->nInBlock == pHasher->nBlockBytes) {
      keccakF1600(pHasher->aLane);
      pHasher->nInBlock = 0;
    }
  }
  if (nData >= 8) {
    const unsigned nLanes = pHasher->nBlockBytes / 8;
    unsigned iLane = pHasher->nInBlock / 8;
    uint64_t* aLane = pHasher->aLane;
    for (; nData >= 8; z += 8, nData -= 8) {
      uint64_t v;
      std::memcpy(&v, z, 8);
      aLane[iLane] ^= toLittleEndian(v);
      if (++iLane == nLanes) {
        keccakF1600(aLane);
        iLane = 0;
      }
    }
    pHasher->nInBlock = iLane * 8;
  }
  for (size_t i = 0; i < nData; ++i) aByte[(pHasher->nInBlock + i) ^ mSwap] ^= z[i];
  pHasher->nInBlock += static_cast<unsigned>(nData);
}

void sha3AbsorbFormat(Sha3Hasher* pHasher, const char* zFormat, ...) {
  char zBuf[50];
  va_list ap;
  va_start(ap, zFormat);
  sqlite3_vsnprintf(sizeof(zBuf), zBuf, zFormat, ap);
  va_end(ap);
  sha3Absorb(pHasher, zBuf, std::strlen(zBuf));
}

const unsigned char* sha3Finish(Sha3Hasher* pHasher) {
  if (pHasher->nInBlock == pHasher->nBlockBytes - 1) {
    absorbByte(pHasher, 0x86);
  } else {
    absorbByte(pHasher, 0x06);
    pHasher->nInBlock = pHasher->nBlockBytes - 1;
    absorbByte(pHasher, 0x80);
  }
  // The digest is the state's bytes in lane order, each lane least significant byte first.
  if (pHasher->byteSwapMask != 0) {
    for (uint64_t& lane : pHasher->aLane) lane = toLittleEndian(lane);
  }
  return stateBytes(pHasher);
}

bool sha3SizeIsValid(sqlite3_int64 iSize) {
  return iSize == 224 || iSize == 256 || iSize == 384 || iSize == 512;
}

namespace {

struct StmtDeleter {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};
using SqlitePtr = std::unique_ptr<char, SqliteFree>;

// Absorbs a tag byte, n in decimal and ':' ("T12:"), as "%c%d:" would format them.
void absorbCounted(Sha3Hasher* pHasher, char cTag, sqlite3_int64 n) {
  char zBuf[24];
  zBuf[0] = cTag;
  char* zEnd = std::to_chars(zBuf + 1, zBuf + sizeof(zBuf) - 1, n).ptr;
  *zEnd++ = ':';
  sha3Absorb(pHasher, zBuf, static_cast<size_t>(zEnd - zBuf));
}

// Absorbs a tag byte and v as 8 bytes, most significant first.
void absorbTagged64(Sha3Hasher* pHasher, char cTag, uint64_t v) {
  unsigned char aBuf[9];
  aBuf[0] = static_cast<unsigned char>(cTag);
  for (int i = 0; i < 8; ++i) aBuf[1 + i] = static_cast<unsigned char>(v >> (56 - 8 * i));
  sha3Absorb(pHasher, aBuf, sizeof(aBuf));
}

// True when a null text or blob from the engine means it ran out of memory.
bool lostToOom(sqlite3* db, const void* p) {
  return p == nullptr && sqlite3_errcode(db) == SQLITE_NOMEM;
}

// Absorbs every row of a prepared read-only statement; returns the step's final result.
int hashRows(sqlite3* db, sqlite3_stmt* pStmt, Sha3Hasher* pHasher) {
  const int nCol = sqlite3_column_count(pStmt);
  int rc;
  while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
    absorbByte(pHasher, 'R');
    for (int iCol = 0; iCol < nCol; ++iCol) {
      switch (sqlite3_column_type(pStmt, iCol)) {
        case SQLITE_INTEGER:
          absorbTagged64(pHasher, 'I', static_cast<uint64_t>(sqlite3_column_int64(pStmt, iCol)));
          break;
        case SQLITE_FLOAT:
          absorbTagged64(pHasher, 'F', std::bit_cast<uint64_t>(sqlite3_column_double(pStmt, iCol)));
          break;
        case SQLITE_TEXT: {
          const unsigned char* z = sqlite3_column_text(pStmt, iCol);
          if (lostToOom(db, z)) return SQLITE_NOMEM;
          const int n = sqlite3_column_bytes(pStmt, iCol);
          absorbCounted(pHasher, 'T', n);
          sha3Absorb(pHasher, z, static_cast<size_t>(n));
          break;
        }
        case SQLITE_BLOB: {
          const void* p = sqlite3_column_blob(pStmt, iCol);
          if (lostToOom(db, p)) return SQLITE_NOMEM;
          const int n = sqlite3_column_bytes(pStmt, iCol);
          absorbCounted(pHasher, 'B', n);
          sha3Absorb(pHasher, p, static_cast<size_t>(n));
          break;
        }
        default:
          absorbByte(pHasher, 'N');
          break;
      }
    }
  }
  return rc;
}

}  // namespace

int sha3HashQuery(sqlite3* db, const char* zSql, Sha3Hasher* pHasher, char** pzErr) {
  *pzErr = nullptr;
  while (zSql != nullptr && zSql[0] != '\0') {
    const char* zBefore = zSql;
    sqlite3_stmt* pRaw = nullptr;
    int rc = sqlite3_prepare_v2(db, zSql, -1, &pRaw, &zSql);
    StmtPtr pStmt(pRaw);
    if (rc != SQLITE_OK) {
      *pzErr =
          sqlite3_mprintf("error SQL statement [%s]: %s", zSql ? zSql : "", sqlite3_errmsg(db));
      return rc;
    }
    if (!pStmt) {
      // Whitespace or comments only; the engine always moves past them.
      if (zSql == zBefore) break;
      continue;
    }
    if (!sqlite3_stmt_readonly(pStmt.get())) {
      *pzErr = sqlite3_mprintf("non-query: [%s]", sqlite3_sql(pStmt.get()));
      return SQLITE_ERROR;
    }
    if (const char* zText = sqlite3_sql(pStmt.get())) {
      const size_t nText = std::strlen(zText);
      absorbCounted(pHasher, 'S', static_cast<sqlite3_int64>(nText));
      sha3Absorb(pHasher, zText, nText);
    }
    rc = hashRows(db, pStmt.get(), pHasher);
    if (rc == SQLITE_NOMEM) return SQLITE_NOMEM;
    if (rc != SQLITE_DONE) {
      // A digest over part of the rows would pass for the digest of the whole result.
      *pzErr = sqlite3_mprintf("error SQL statement [%s]: %s", sqlite3_sql(pStmt.get()),
                               sqlite3_errmsg(db));
      return rc;
    }
  }
  return SQLITE_OK;
}

namespace {

constexpr const char* kSizeError = "SHA3 size should be one of: 224 256 384 512";

// The digest size of a call: SIZE when given (NULL reads as 0), else 256; 0 after reporting
// an invalid size.
int digestSize(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg) {
  const sqlite3_int64 iSize = nArg >= 2 ? sqlite3_value_int64(apArg[1]) : 256;
  if (!sha3SizeIsValid(iSize)) {
    sqlite3_result_error(pCtx, kSizeError, -1);
    return 0;
  }
  return static_cast<int>(iSize);
}

// sha3(X [, SIZE]): the digest of X's bytes (a BLOB's raw bytes, anything else as UTF-8 text).
void sha3Func(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg) {
  const int iSize = digestSize(pCtx, nArg, apArg);
  if (iSize == 0) return;
  const int eType = sqlite3_value_type(apArg[0]);
  if (eType == SQLITE_NULL) return;
  const void* pData = eType == SQLITE_BLOB ? sqlite3_value_blob(apArg[0])
                                           : static_cast<const void*>(sqlite3_value_text(apArg[0]));
  const int nData = sqlite3_value_bytes(apArg[0]);
  if (pData == nullptr && nData > 0) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  Sha3Hasher hasher;
  sha3Begin(&hasher, iSize);
  sha3Absorb(&hasher, pData, static_cast<size_t>(nData));
  sqlite3_result_blob(pCtx, sha3Finish(&hasher), iSize / 8, SQLITE_TRANSIENT);
}

// sha3_query(SQL [, SIZE]): the digest of the statements' texts and of every row they return.
void sha3QueryFunc(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg) {
  const int iSize = digestSize(pCtx, nArg, apArg);
  if (iSize == 0) return;
  const auto* zSql = reinterpret_cast<const char*>(sqlite3_value_text(apArg[0]));
  if (zSql == nullptr) {
    if (sqlite3_value_type(apArg[0]) != SQLITE_NULL) sqlite3_result_error_nomem(pCtx);
    return;
  }
  Sha3Hasher hasher;
  sha3Begin(&hasher, iSize);
  char* zErrRaw = nullptr;
  const int rc = sha3HashQuery(sqlite3_context_db_handle(pCtx), zSql, &hasher, &zErrRaw);
  SqlitePtr zErr(zErrRaw);
  if (rc != SQLITE_OK) {
    if (zErr) {
      sqlite3_result_error(pCtx, zErr.get(), -1);
      sqlite3_result_error_code(pCtx, rc);
    } else {
      sqlite3_result_error_nomem(pCtx);
    }
    return;
  }
  sqlite3_result_blob(pCtx, sha3Finish(&hasher), iSize / 8, SQLITE_TRANSIENT);
}

}  // namespace

int sha3Register(sqlite3* db) {
  constexpr int mHashFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  constexpr int mQueryFlags = SQLITE_UTF8 | SQLITE_DIRECTONLY;
  int rc = sqlite3_create_function(db, "sha3", 1, mHashFlags, nullptr, sha3Func, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "sha3", 2, mHashFlags, nullptr, sha3Func, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "sha3_query", 1, mQueryFlags, nullptr, sha3QueryFunc, nullptr,
                                 nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "sha3_query", 2, mQueryFlags, nullptr, sha3QueryFunc, nullptr,
                                 nullptr);
  }
  return rc;
}

std::string sha3sumTableQuery(std::string_view zName) {
  if (zName == "sqlite_schema")
    return "SELECT type,name,tbl_name,sql FROM sqlite_schema ORDER BY name;";
  if (zName == "sqlite_sequence") return "SELECT name,seq FROM sqlite_sequence ORDER BY name;";
  if (zName == "sqlite_stat1") return "SELECT tbl,idx,stat FROM sqlite_stat1 ORDER BY tbl,idx;";
  if (zName == "sqlite_stat4") {
    return "SELECT * FROM " + std::string(zName) + " ORDER BY tbl, idx, rowid;\n";
  }
  // Ordinary tables, and any other internal table (such as the sqlite_stat2 or sqlite_stat3
  // of older engines), are hashed whole in storage order.
  std::string zQuery = "SELECT * FROM \"";
  for (char c : zName) {
    zQuery += c;
    if (c == '"') zQuery += '"';
  }
  zQuery += "\" NOT INDEXED;";
  return zQuery;
}

namespace {

struct StrDeleter {
  void operator()(sqlite3_str* pStr) const { sqlite3_free(sqlite3_str_finish(pStr)); }
};
using StrPtr = std::unique_ptr<sqlite3_str, StrDeleter>;

}  // namespace

int sha3sumBuildSql(sqlite3* db, const char* zLikePattern, bool bInternal, int iSize,
                    char** pzSql) {
  *pzSql = nullptr;
  const bool bSeparate = zLikePattern != nullptr;
  if (zLikePattern != nullptr && sqlite3_strlike("sqlite\\_%", zLikePattern, '\\') == 0) {
    bInternal = true;
  }
  const char* zListSql =
      bInternal ? "SELECT lower(name) FROM sqlite_schema WHERE type='table' AND "
                  "coalesce(rootpage,0)>1 UNION ALL SELECT 'sqlite_schema' ORDER BY 1 collate "
                  "nocase"
                : "SELECT lower(name) FROM sqlite_schema WHERE type='table' AND "
                  "coalesce(rootpage,0)>1 AND name NOT LIKE 'sqlite_%' ORDER BY 1 collate nocase";
  sqlite3_stmt* pRaw = nullptr;
  int rc = sqlite3_prepare_v2(db, zListSql, -1, &pRaw, nullptr);
  StmtPtr pList(pRaw);
  if (rc != SQLITE_OK) return rc;

  StrPtr pSql(sqlite3_str_new(db));
  sqlite3_str_appendall(pSql.get(), "WITH [sha3sum$query](a,b) AS(");
  const char* zSep = "VALUES(";
  while ((rc = sqlite3_step(pList.get())) == SQLITE_ROW) {
    const auto* zName = reinterpret_cast<const char*>(sqlite3_column_text(pList.get(), 0));
    if (zName == nullptr) continue;
    if (zLikePattern != nullptr && sqlite3_strlike(zLikePattern, zName, 0) != 0) continue;
    const std::string zQuery = sha3sumTableQuery(zName);
    sqlite3_str_appendf(pSql.get(), "%s%Q,%Q", zSep, zQuery.c_str(), zName);
    zSep = "),(";
  }
  if (rc != SQLITE_DONE) return rc;
  pList.reset();
  if (bSeparate) {
    sqlite3_str_appendf(pSql.get(),
                        ")) SELECT lower(hex(sha3_query(a,%d))) AS hash, b AS label "
                        "  FROM [sha3sum$query]",
                        iSize);
  } else {
    sqlite3_str_appendf(pSql.get(),
                        ")) SELECT lower(hex(sha3_query(group_concat(a,''),%d))) AS hash "
                        "  FROM [sha3sum$query]",
                        iSize);
  }
  if (sqlite3_str_errcode(pSql.get()) != SQLITE_OK) return SQLITE_NOMEM;
  *pzSql = sqlite3_str_finish(pSql.release());
  return *pzSql ? SQLITE_OK : SQLITE_NOMEM;
}
