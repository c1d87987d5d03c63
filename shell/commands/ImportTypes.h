// Column types that `.import --detect-types` declares for a new table, found
// by looking at every value of each column before the table is made.
#pragma once

// What one field's text is, as far as declaring its column goes.
enum class ImportValueKind : unsigned char {
  Empty,    // no bytes: says nothing about the column
  Integer,  // a decimal integer without a leading zero that fits 64 bits
  Real,     // any other decimal number: a fraction, an exponent, or too big for 64 bits
  Text,     // anything else, "inf", "nan", "0x10", " 5" and "01234" included
};

// The kind of the n bytes at z.  z[n] must be readable (the readers' fields
// are zero-terminated).
ImportValueKind classifyImportValue(const char* z, int n);

// The declared type of one column, narrowed value by value.
struct ImportColumnType {
  bool bSeen = false;    // a non-empty value was seen
  bool bInteger = true;  // every non-empty value so far is an integer
  bool bNumeric = true;  // every non-empty value so far is a number

  void add(const char* z, int n) {
    if (n == 0 || !bNumeric) return;  // a text column stays text
    addKind(classifyImportValue(z, n));
  }
  void addKind(ImportValueKind e) {
    if (e == ImportValueKind::Empty) return;
    bSeen = true;
    if (e == ImportValueKind::Text) {
      bInteger = bNumeric = false;
    } else if (e == ImportValueKind::Real) {
      bInteger = false;
    }
  }
  // "INTEGER", "REAL" or "TEXT"; a column without any value is TEXT.
  const char* declared() const {
    if (!bSeen || !bNumeric) return "TEXT";
    return bInteger ? "INTEGER" : "REAL";
  }
};
