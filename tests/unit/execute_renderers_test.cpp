// The row-at-a-time renderers: exact bytes per mode, and oracles that read the
// output back (replayed SQL, a strict JSON parser, an RFC 4180 CSV parser).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/execute_fixture.h"

namespace {

// One SQL value read back from a connection.
struct Value {
  int eType = SQLITE_NULL;
  sqlite3_int64 i = 0;
  double r = 0;
  std::string z;  // text or blob bytes

  bool operator==(const Value& o) const {
    if (eType != o.eType) return false;
    switch (eType) {
      case SQLITE_INTEGER:
        return i == o.i;
      case SQLITE_FLOAT:
        // Bit for bit: a negative zero must keep its sign.
        return std::memcmp(&r, &o.r, sizeof(r)) == 0;
      case SQLITE_TEXT:
      case SQLITE_BLOB:
        return z == o.z;
      default:
        return true;
    }
  }
};

std::ostream& operator<<(std::ostream& os, const Value& v) {
  os << "type " << v.eType << " ";
  if (v.eType == SQLITE_INTEGER) os << v.i;
  if (v.eType == SQLITE_FLOAT) os << v.r;
  if (v.eType == SQLITE_TEXT || v.eType == SQLITE_BLOB) os << testing::PrintToString(v.z);
  return os;
}

using Rows = std::vector<std::vector<Value>>;

Rows readRows(sqlite3* db, const char* zSql) {
  Rows rows;
  StmtPtr pStmt = prepareStmt(db, zSql);
  EXPECT_TRUE(pStmt) << sqlite3_errmsg(db);
  if (!pStmt) return rows;
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    std::vector<Value> row;
    for (int i = 0; i < sqlite3_column_count(pStmt.get()); i++) {
      Value v;
      v.eType = sqlite3_column_type(pStmt.get(), i);
      if (v.eType == SQLITE_INTEGER) v.i = sqlite3_column_int64(pStmt.get(), i);
      if (v.eType == SQLITE_FLOAT) v.r = sqlite3_column_double(pStmt.get(), i);
      if (v.eType == SQLITE_TEXT || v.eType == SQLITE_BLOB) {
        const void* p = sqlite3_column_blob(pStmt.get(), i);
        v.z.assign(static_cast<const char*>(p ? p : ""),
                   static_cast<size_t>(sqlite3_column_bytes(pStmt.get(), i)));
      }
      row.push_back(v);
    }
    rows.push_back(row);
  }
  return rows;
}

// The awkward values every oracle runs over, one per row of a one-column table
// and spread over the columns of a wider one.
const char* const azValues[] = {
    "NULL",
    "0",
    "-1",
    "9223372036854775807",
    "-9223372036854775807-1",
    "0.1",
    "-0.0",
    "1e308",
    "-1e300",
    "1e999",
    "-1e999",
    "2.0",
    "-2.5",
    "1.5e-300",
    "9223372036854775808.0",
    "-9223372036854775808.0",
    "123456789012345678.0",
    "''",
    "'it''s'",
    "'a' || char(10) || 'b'",
    "'c' || char(13) || char(10) || 'd' || char(13)",
    "'has \\n and \\012 already' || char(10)",
    "'tab' || char(9) || 'end'",
    "'caf\xc3\xa9'",
    "'\"dq\",comma'",
    "char(1) || char(31) || char(127)",
    "'NULL'",
    "'12'",
    "x''",
    "x'00'",
    "x'0001ff80'",
    "zeroblob(3)",
};

void fillValues(sqlite3* db) {
  std::string zSql = "CREATE TABLE v(x); CREATE TABLE w(a, \"b c\", \"select\", d);";
  for (const char* z : azValues) zSql += std::string("INSERT INTO v VALUES(") + z + ");";
  // The wide table: four columns of rotated values.
  size_t n = sizeof(azValues) / sizeof(azValues[0]);
  for (size_t i = 0; i < n; i++) {
    zSql += "INSERT INTO w VALUES(";
    for (size_t j = 0; j < 4; j++) {
      zSql += (j ? "," : "");
      zSql += azValues[(i + j * 7) % n];
    }
    zSql += ");";
  }
  char* zErr = nullptr;
  ASSERT_EQ(sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, &zErr), SQLITE_OK) << zErr;
}

// ---------------------------------------------------------------------------
// A strict JSON parser: the whole text must be one value followed by "\n".
struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  std::string zText;  // number token or decoded string (code points < 256 as one byte each
                      // when bBytes, else UTF-8)
  std::vector<unsigned> aCode;  // decoded string as code points
  std::vector<std::pair<std::string, Json>> aMember;
  std::vector<Json> aItem;
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& z) : z_(z) {}
  bool parse(Json* pOut) {
    if (!value(pOut)) return false;
    return i_ == z_.size();
  }
  size_t where() const { return i_; }

 private:
  const std::string& z_;
  size_t i_ = 0;

  int peek() const { return i_ < z_.size() ? static_cast<unsigned char>(z_[i_]) : -1; }
  void ws() {
    while (i_ < z_.size() &&
           (z_[i_] == ' ' || z_[i_] == '\n' || z_[i_] == '\r' || z_[i_] == '\t')) {
      i_++;
    }
  }
  bool lit(const char* zLit) {
    size_t n = std::strlen(zLit);
    if (z_.compare(i_, n, zLit) != 0) return false;
    i_ += n;
    return true;
  }
  bool value(Json* p) {
    ws();
    int c = peek();
    bool ok = false;
    if (c == '{') {
      ok = object(p);
    } else if (c == '[') {
      ok = array(p);
    } else if (c == '"') {
      p->kind = Json::String;
      ok = string(&p->aCode);
    } else if (c == 't' || c == 'f') {
      p->kind = Json::Bool;
      ok = lit(c == 't' ? "true" : "false");
    } else if (c == 'n') {
      p->kind = Json::Null;
      ok = lit("null");
    } else {
      p->kind = Json::Number;
      ok = number(&p->zText);
    }
    ws();
    return ok;
  }
  bool object(Json* p) {
    p->kind = Json::Object;
    i_++;
    ws();
    if (peek() == '}') return i_++, true;
    while (true) {
      ws();
      std::vector<unsigned> aKey;
      if (peek() != '"' || !string(&aKey)) return false;
      ws();
      if (peek() != ':') return false;
      i_++;
      Json v;
      if (!value(&v)) return false;
      std::string zKey;
      for (unsigned u : aKey) zKey += static_cast<char>(u);  // test keys are ASCII
      p->aMember.emplace_back(zKey, v);
      if (peek() == ',') {
        i_++;
      } else if (peek() == '}') {
        i_++;
        return true;
      } else {
        return false;
      }
    }
  }
  bool array(Json* p) {
    p->kind = Json::Array;
    i_++;
    ws();
    if (peek() == ']') return i_++, true;
    while (true) {
      Json v;
      if (!value(&v)) return false;
      p->aItem.push_back(v);
      if (peek() == ',') {
        i_++;
      } else if (peek() == ']') {
        i_++;
        return true;
      } else {
        return false;
      }
    }
  }
  bool digits() {
    size_t i0 = i_;
    while (peek() >= '0' && peek() <= '9') i_++;
    return i_ > i0;
  }
  bool number(std::string* pz) {
    size_t i0 = i_;
    if (peek() == '-') i_++;
    if (peek() == '0') {
      i_++;
    } else if (!digits()) {
      return false;
    }
    if (peek() == '.') {
      i_++;
      if (!digits()) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      i_++;
      if (peek() == '+' || peek() == '-') i_++;
      if (!digits()) return false;
    }
    *pz = z_.substr(i0, i_ - i0);
    return true;
  }
  bool hex4(unsigned* pu) {
    if (i_ + 4 > z_.size()) return false;
    *pu = 0;
    for (int k = 0; k < 4; k++) {
      char c = z_[i_++];
      int d = (c >= '0' && c <= '9')   ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : -1;
      if (d < 0) return false;
      *pu = *pu * 16 + static_cast<unsigned>(d);
    }
    return true;
  }
  // Decodes a string into code points, checking that raw bytes are valid
  // UTF-8 and that no control character appears unescaped.
  bool string(std::vector<unsigned>* pa) {
    i_++;
    while (true) {
      int c = peek();
      if (c < 0) return false;
      i_++;
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        int e = peek();
        i_++;
        unsigned u = 0;
        switch (e) {
          case '"':
            u = '"';
            break;
          case '\\':
            u = '\\';
            break;
          case '/':
            u = '/';
            break;
          case 'b':
            u = 8;
            break;
          case 'f':
            u = 12;
            break;
          case 'n':
            u = 10;
            break;
          case 'r':
            u = 13;
            break;
          case 't':
            u = 9;
            break;
          case 'u':
            if (!hex4(&u)) return false;
            break;
          default:
            return false;
        }
        pa->push_back(u);
      } else if (c < 0x80) {
        pa->push_back(static_cast<unsigned>(c));
      } else {
        int nMore = (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (nMore < 0) return false;
        unsigned u = static_cast<unsigned>(c) & (0x3f >> nMore);
        for (int k = 0; k < nMore; k++) {
          int d = peek();
          if (d < 0 || (d & 0xc0) != 0x80) return false;
          i_++;
          u = (u << 6) | (static_cast<unsigned>(d) & 0x3f);
        }
        pa->push_back(u);
      }
    }
  }
};

// Code points of a UTF-8 text (the test texts are valid UTF-8).
std::vector<unsigned> codePoints(const std::string& z) {
  std::vector<unsigned> a;
  std::vector<unsigned> aOut;
  std::string zq = "\"";
  for (char c : z) {
    if (c == '"' || c == '\\') zq += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char zEsc[8];
      std::snprintf(zEsc, sizeof(zEsc), "\\u%04x", c);
      zq += zEsc;
    } else {
      zq += c;
    }
  }
  zq += "\"";
  Json j;
  JsonParser parser(zq);
  EXPECT_TRUE(parser.parse(&j));
  return j.aCode;
}

// ---------------------------------------------------------------------------
// A strict RFC 4180 parser: records end with CRLF, fields are separated by
// commas, quoted fields double their quotes; unquoted fields hold no quote,
// comma, CR or LF.
struct CsvField {
  std::string z;
  bool bQuoted;
};

bool parseCsv(const std::string& z, std::vector<std::vector<CsvField>>* pRecords) {
  size_t i = 0;
  while (i < z.size()) {
    std::vector<CsvField> rec;
    while (true) {
      CsvField f{"", false};
      if (i < z.size() && z[i] == '"') {
        f.bQuoted = true;
        i++;
        while (true) {
          if (i >= z.size()) return false;
          if (z[i] == '"') {
            if (i + 1 < z.size() && z[i + 1] == '"') {
              f.z += '"';
              i += 2;
              continue;
            }
            i++;
            break;
          }
          f.z += z[i++];
        }
      } else {
        while (i < z.size() && z[i] != ',' && z[i] != '\r' && z[i] != '\n') {
          if (z[i] == '"') return false;
          f.z += z[i++];
        }
      }
      rec.push_back(f);
      if (i < z.size() && z[i] == ',') {
        i++;
        continue;
      }
      if (z.compare(i, 2, "\r\n") != 0) return false;
      i += 2;
      break;
    }
    pRecords->push_back(rec);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

TEST_F(ShellRun, EveryModeWritesItsExactBytes) {
  exec(
      "CREATE TABLE t(a, \"select\", c, d, e);"
      "INSERT INTO t VALUES(1, 'it''s \"x\" <&>', NULL, 2.0, x'01ab'),"
      " (-5, 'a' || char(10) || 'b,c' || char(9), 0.1, 1e308, x'');");
  s.bHeaders = 1;
  setSettingText(s.zNullText, "N");
  setInsertTable(&s, "t");
  struct Case {
    OutputMode eMode;
    const char* zColSep;
    const char* zRowSep;
    const char* zWant;
  } cases[] = {
      {OutputMode::Line, nullptr, "\n",
       "     a = 1\n"
       "select = it's \"x\" <&>\n"
       "     c = N\n"
       "     d = 2.0\n"
       "     e = \x01\xab\n"
       "\n"
       "     a = -5\n"
       "select = a\nb,c\t\n"
       "     c = 0.1\n"
       "     d = 1.0e+308\n"
       "     e = \n"},
      {OutputMode::List, "|", "\n",
       "a|select|c|d|e\n"
       "1|it's \"x\" <&>|N|2.0|\x01\xab\n"
       "-5|a\nb,c\t|0.1|1.0e+308|\n"},
      {OutputMode::Html, nullptr, nullptr,
       "<TR><TH>a</TH>\n<TH>select</TH>\n<TH>c</TH>\n<TH>d</TH>\n<TH>e</TH>\n</TR>\n"
       "<TR><TD>1</TD>\n<TD>it&#39;s &quot;x&quot; &lt;&amp;&gt;</TD>\n<TD>N</TD>\n"
       "<TD>2.0</TD>\n<TD>\x01\xab</TD>\n</TR>\n"
       "<TR><TD>-5</TD>\n<TD>a\nb,c\t</TD>\n<TD>0.1</TD>\n<TD>1.0e+308</TD>\n<TD></TD>\n"
       "</TR>\n"},
      {OutputMode::Tcl, " ", "\n",
       "\"a\" \"select\" \"c\" \"d\" \"e\"\n"
       "\"1\" \"it's \\\"x\\\" <&>\" \"N\" \"2.0\" \"\\001\\253\"\n"
       "\"-5\" \"a\\nb,c\\t\" \"0.1\" \"1.0e+308\" \"\"\n"},
      {OutputMode::Csv, ",", "\r\n",
       "a,select,c,d,e\r\n"
       "1,\"it's \"\"x\"\" <&>\",N,2.0,\"\x01\xab\"\r\n"
       "-5,\"a\nb,c\t\",0.1,1.0e+308,\"\"\r\n"},
      {OutputMode::Ascii, "\x1f", "\x1e",
       "a\x1fselect\x1f"
       "c\x1f"
       "d\x1f"
       "e\x1e"
       "1\x1fit's \"x\" <&>\x1fN\x1f"
       "2.0\x1f\x01\xab\x1e"
       "-5\x1f"
       "a\nb,c\t\x1f"
       "0.1\x1f"
       "1.0e+308\x1f\x1e"},
      {OutputMode::Insert, nullptr, nullptr,
       "INSERT INTO t(a,\"select\",c,d,e) VALUES(1,'it''s \"x\" <&>',NULL,2.0,X'01ab');\n"
       "INSERT INTO t(a,\"select\",c,d,e) VALUES(-5,replace('a\\nb,c\t','\\n',char(10)),"
       "0.10000000000000000555,9.9999999999999996322e+307,X'');\n"},
      {OutputMode::Quote, ",", "\n",
       "'a','select','c','d','e'\n"
       "1,'it''s \"x\" <&>',NULL,2.0,X'01ab'\n"
       "-5,'a\nb,c\t',0.10000000000000000555,9.9999999999999996322e+307,X''\n"},
      {OutputMode::Json, nullptr, nullptr,
       "[{\"a\":1,\"select\":\"it's \\\"x\\\" "
       "<&>\",\"c\":null,\"d\":2.0,\"e\":\"\\u0001\\u00ab\"},\n"
       "{\"a\":-5,\"select\":\"a\\nb,c\\t\",\"c\":0.10000000000000000555,"
       "\"d\":9.9999999999999996322e+307,\"e\":\"\"}]\n"},
  };
  for (const auto& c : cases) {
    setMode(c.eMode, c.zColSep, c.zRowSep);
    EXPECT_EQ(run("SELECT * FROM t;"), c.zWant) << modeName(c.eMode);
  }
  // Without headers the header-bearing modes print only rows.
  s.bHeaders = 0;
  setMode(OutputMode::List, "|", "\n");
  EXPECT_EQ(run("SELECT a, d FROM t;"), "1|2.0\n-5|1.0e+308\n");
  setMode(OutputMode::Insert);
  setInsertTable(&s, "my table");
  EXPECT_EQ(run("SELECT a FROM t LIMIT 1;"), "INSERT INTO \"my table\" VALUES(1);\n");
}

TEST_F(ShellRun, InsertModeFloatForms) {
  setInsertTable(&s, "t");
  setMode(OutputMode::Insert);
  // Integral values keep ".0"; values beyond the 64-bit range take the
  // general form instead of a conversion to an integer.
  struct Case {
    const char* zExpr;
    const char* zWant;
  } cases[] = {
      {"2.0", "2.0"},
      {"-0.0", "-0.0"},
      {"0.0", "0.0"},
      {"1e18", "1000000000000000000.0"},
      {"-9223372036854775808.0", "-9223372036854775808.0"},
      {"9223372036854775808.0", "9223372036854775807.8"},
      {"1e308", "9.9999999999999996322e+307"},
      {"-1e300", "-1.0000000000000000047e+300"},
      {"1e999", "1e999"},
      {"-1e999", "-1e999"},
      {"0.5", "0.5"},
  };
  for (const auto& c : cases) {
    std::string zSql = std::string("SELECT ") + c.zExpr + ";";
    EXPECT_EQ(run(zSql.c_str()), std::string("INSERT INTO t VALUES(") + c.zWant + ");\n")
        << c.zExpr;
  }
  // The newline flag keeps line ends literal.
  s.mFlags |= ShellFlag::Newlines;
  EXPECT_EQ(run("SELECT 'a' || char(10) || 'b';"), "INSERT INTO t VALUES('a\nb');\n");
}

TEST_F(ShellRun, InsertAndQuoteOutputReplaysToTheSameValues) {
  fillValues(s.db);
  for (const char* zTable : {"v", "w"}) {
    std::string zSelect = std::string("SELECT * FROM ") + zTable + " ORDER BY rowid;";
    Rows want = readRows(s.db, zSelect.c_str());
    ASSERT_FALSE(want.empty());

    for (int iForm = 0; iForm < 3; iForm++) {
      // 0: insert with line-end escapes, 1: insert with literal line ends,
      // 2: quote, one row at a time wrapped into an INSERT.
      std::string zReplay;
      if (iForm < 2) {
        setMode(OutputMode::Insert);
        setInsertTable(&s, zTable);
        s.bHeaders = iForm;
        if (iForm == 1) s.mFlags |= ShellFlag::Newlines;
        zReplay = run(zSelect.c_str());
        s.mFlags &= ~ShellFlag::Newlines;
      } else {
        setMode(OutputMode::Quote, ",", "\n");
        s.bHeaders = 0;
        for (size_t iRow = 1; iRow <= want.size(); iRow++) {
          std::string zOne =
              std::string("SELECT * FROM ") + zTable + " WHERE rowid=" + std::to_string(iRow);
          std::string zLine = run(zOne.c_str());
          ASSERT_EQ(zLine.back(), '\n');
          zLine.pop_back();
          zReplay += std::string("INSERT INTO ") + zTable + " VALUES(" + zLine + ");\n";
        }
      }
      sqlite3* db2 = nullptr;
      ASSERT_EQ(sqlite3_open(":memory:", &db2), SQLITE_OK);
      char* zErr = nullptr;
      int rc = sqlite3_exec(db2, "CREATE TABLE v(x); CREATE TABLE w(a, \"b c\", \"select\", d);",
                            nullptr, nullptr, nullptr);
      rc = sqlite3_exec(db2, zReplay.c_str(), nullptr, nullptr, &zErr);
      EXPECT_EQ(rc, SQLITE_OK) << (zErr ? zErr : "") << "\n" << zReplay;
      sqlite3_free(zErr);
      Rows got = readRows(db2, zSelect.c_str());
      sqlite3_close(db2);
      ASSERT_EQ(got.size(), want.size()) << "form " << iForm;
      for (size_t i = 0; i < want.size(); i++) {
        for (size_t j = 0; j < want[i].size(); j++) {
          EXPECT_EQ(got[i][j], want[i][j]) << zTable << " form " << iForm << " row " << i;
        }
      }
    }
  }
}

TEST_F(ShellRun, JsonOutputParsesAndMatchesTheValues) {
  fillValues(s.db);
  setMode(OutputMode::Json);
  for (const char* zSelect :
       {"SELECT * FROM v ORDER BY rowid;", "SELECT * FROM w ORDER BY rowid;"}) {
    std::string out = run(zSelect);
    Json doc;
    JsonParser parser(out);
    ASSERT_TRUE(parser.parse(&doc)) << "at byte " << parser.where() << "\n" << out;
    ASSERT_EQ(out.substr(out.size() - 2), "]\n");
    Rows want = readRows(s.db, zSelect);
    StmtPtr pStmt = prepareStmt(s.db, zSelect);
    ASSERT_EQ(doc.kind, Json::Array);
    ASSERT_EQ(doc.aItem.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
      const Json& obj = doc.aItem[i];
      ASSERT_EQ(obj.kind, Json::Object);
      ASSERT_EQ(obj.aMember.size(), want[i].size());
      for (size_t j = 0; j < want[i].size(); j++) {
        EXPECT_EQ(obj.aMember[j].first, sqlite3_column_name(pStmt.get(), static_cast<int>(j)));
        const Json& v = obj.aMember[j].second;
        const Value& w = want[i][j];
        switch (w.eType) {
          case SQLITE_NULL:
            EXPECT_EQ(v.kind, Json::Null);
            break;
          case SQLITE_INTEGER:
            ASSERT_EQ(v.kind, Json::Number);
            EXPECT_EQ(std::strtoll(v.zText.c_str(), nullptr, 10), w.i) << v.zText;
            break;
          case SQLITE_FLOAT: {
            ASSERT_EQ(v.kind, Json::Number);
            double r = std::strtod(v.zText.c_str(), nullptr);
            if (std::isinf(w.r)) {
              EXPECT_EQ(r, w.r) << v.zText;
            } else {
              // 20 significant digits from the engine's formatter: equal to
              // within its rounding.
              EXPECT_NEAR(r, w.r, std::fabs(w.r) * 1e-15) << v.zText;
            }
            break;
          }
          case SQLITE_TEXT:
            ASSERT_EQ(v.kind, Json::String);
            EXPECT_EQ(v.aCode, codePoints(w.z));
            break;
          case SQLITE_BLOB: {
            ASSERT_EQ(v.kind, Json::String);
            std::vector<unsigned> aByte;
            for (char c : w.z) aByte.push_back(static_cast<unsigned char>(c));
            EXPECT_EQ(v.aCode, aByte);
            break;
          }
        }
      }
    }
  }
}

TEST_F(ShellRun, CsvOutputParsesAndMatchesTheValues) {
  fillValues(s.db);
  setMode(OutputMode::Csv, ",", "\r\n");
  s.bHeaders = 1;
  for (const char* zSelect :
       {"SELECT * FROM v ORDER BY rowid;", "SELECT * FROM w ORDER BY rowid;"}) {
    std::string out = run(zSelect);
    std::vector<std::vector<CsvField>> records;
    ASSERT_TRUE(parseCsv(out, &records)) << out;
    StmtPtr pStmt = prepareStmt(s.db, zSelect);
    int nCol = sqlite3_column_count(pStmt.get());
    ASSERT_FALSE(records.empty());
    ASSERT_EQ(records[0].size(), static_cast<size_t>(nCol));
    for (int j = 0; j < nCol; j++) EXPECT_EQ(records[0][j].z, sqlite3_column_name(pStmt.get(), j));
    size_t iRec = 1;
    while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      ASSERT_LT(iRec, records.size());
      const auto& rec = records[iRec++];
      ASSERT_EQ(rec.size(), static_cast<size_t>(nCol));
      for (int j = 0; j < nCol; j++) {
        const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), j));
        if (z == nullptr) {
          // NULL prints the null text unquoted; an empty text is quoted.
          EXPECT_FALSE(rec[j].bQuoted);
          EXPECT_EQ(rec[j].z, "");
        } else {
          EXPECT_EQ(rec[j].z, z);
          if (z[0] == 0) {
            EXPECT_TRUE(rec[j].bQuoted);
          }
        }
      }
    }
    EXPECT_EQ(iRec, records.size());
  }
}

TEST_F(ShellRun, QuoteModeWritesSqlLiterals) {
  setMode(OutputMode::Quote, ",", "\n");
  s.bHeaders = 1;
  EXPECT_EQ(run("SELECT 0.1 AS \"it's\", 'a''b' || char(10), x'00ff', NULL, 1e999, 7, -0.0;"),
            "'it''s','''a''''b'' || char(10)','x''00ff''','NULL','1e999','7','-0.0'\n"
            "0.10000000000000000555,'a''b\n',X'00ff',NULL,1e999,7,-0.0\n");
}

TEST_F(ShellRun, LineModePadsNamesToTheWidest) {
  setMode(OutputMode::Line, nullptr, "\n");
  EXPECT_EQ(run("SELECT 1 AS a, 2 AS b UNION ALL SELECT 3, 4;"),
            "    a = 1\n    b = 2\n\n    a = 3\n    b = 4\n");
  EXPECT_EQ(run("SELECT 1 AS longer_name, NULL AS b;"), "longer_name = 1\n          b = \n");
}

TEST_F(ShellRun, SchemaModesAndPlanRowsGoThroughTheirPrinters) {
  setMode(OutputMode::Semi);
  EXPECT_EQ(run("SELECT 'CREATE TABLE x(a)';"), "CREATE TABLE x(a);\n");
  // The eqp mode collects rows for the tree printed after the statement.
  setMode(OutputMode::Eqp);
  EXPECT_EQ(run("SELECT 1, 0, 0, 'SCAN a' UNION ALL SELECT 2, 1, 0, 'SCAN b';"),
            "QUERY PLAN\n`--SCAN a\n   `--SCAN b\n");
}

TEST(IsNumberText, AcceptsOnlyWholeDecimalNumbers) {
  struct Case {
    const char* z;
    bool bNumber;
    int bReal;
  } cases[] = {
      {"0", true, 0},      {"-12", true, 0},   {"+7", true, 0},      {"1.5", true, 1},
      {"1e5", true, 1},    {"2E-3", true, 1},  {"3.0e+10", true, 1}, {"", false, 0},
      {"-", false, 0},     {".5", false, 0},   {"5.", false, 0},     {"1e", false, 0},
      {"1e+", false, 0},   {"0x10", false, 0}, {" 1", false, 0},     {"1 ", false, 0},
      {"1.2.3", false, 0}, {"NaN", false, 0},
  };
  for (const auto& c : cases) {
    int bReal = -1;
    EXPECT_EQ(isNumberText(c.z, &bReal), c.bNumber) << c.z;
    if (c.bNumber) {
      EXPECT_EQ(bReal, c.bReal) << c.z;
    }
  }
  EXPECT_TRUE(isNumberText("12", nullptr));
}

TEST(SetInsertTable, QuotesNamesThatNeedIt) {
  ShellContext s{};
  setInsertTable(&s, "plain_name");
  EXPECT_STREQ(s.zInsertTable, "plain_name");
  setInsertTable(&s, "two words");
  EXPECT_STREQ(s.zInsertTable, "\"two words\"");
  setInsertTable(&s, "say \"hi\"");
  EXPECT_STREQ(s.zInsertTable, "\"say \"\"hi\"\"\"");
  setInsertTable(&s, "select");
  EXPECT_STREQ(s.zInsertTable, "\"select\"");
  setInsertTable(&s, nullptr);
  EXPECT_EQ(s.zInsertTable, nullptr);
}
