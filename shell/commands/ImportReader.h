// Field readers of `.import`: a CSV reader that understands double-quoted
// fields and a plain reader that splits only at the separator bytes.  Input is
// taken from a stream in large blocks, or from a caller's memory buffer.
#pragma once

#include <cstddef>
#include <cstdio>

// Bytes read from the input stream at a time.
inline constexpr size_t nImportBlockSize = 65536;
// Largest field kept: the engine refuses longer texts, so the bytes beyond this
// are read and dropped and the field is marked as too long.
inline constexpr int nImportMaxField = 1000000000;

// The state of one import, zero-filled at the start of the command.
struct ImportReader {
  const char* zSourceName;      // name for messages: the file, or "<pipe>"
  FILE* pInput;                 // the open input
  int (*xCloseInput)(FILE*);    // closes pInput (pclose or fclose)
  char* zField;                 // the current field, zero-terminated; engine allocation
  int nField;                   // bytes in zField
  int nFieldAlloc;              // allocated size of zField
  int iLine;                    // current line, from 1
  int nRowsAdded;               // rows inserted
  int nRowErrors;               // rows whose insert failed
  int bStarted;                 // a field has been read (the byte-order-mark check)
  int iTerm;                    // what ended the last field: a separator byte, or -1
  int iColSep;                  // column separator byte
  int iRowSep;                  // row separator byte
  int nMaxField;                // cap on the field length; 0 means nImportMaxField
  int nBlockSize;               // bytes per read from pInput; 0 means nImportBlockSize
  bool bFieldTooLong;           // the last field was cut at nMaxField
  bool bFieldHasNul;            // the last field holds a NUL byte
  bool bInputDone;              // nothing more comes from pInput
  bool bBlockOwned;             // aBlock is ours to free
  bool bQuiet;                  // no warnings (a second reading of the same bytes)
  const unsigned char* aBlock;  // input bytes; [iBlock, nBlock) not yet read
  size_t iBlock;
  size_t nBlock;
};

using ImportFieldReader = char* (*)(ImportReader*);

// Reads one field into zField, sets iTerm and returns zField; null at the end
// of input or when Ctrl-C was pressed (iTerm is then -1).  A column separator
// right before the end of input is followed by no field: the read after it
// returns null, so that field counts as missing.
char* readCsvField(ImportReader* p);
char* readAsciiField(ImportReader* p);

// Appends one byte to zField, growing it as needed.
void appendFieldByte(ImportReader* p, int c);

// Closes the input with xCloseInput and frees the field and block buffers.
void closeImportReader(ImportReader* p);

// Makes the reader take its input from n bytes at z (not copied, not owned).
void setImportMemoryInput(ImportReader* p, const void* z, size_t n);

// The position of the next unread byte, for seekImportInput; -1 when the
// input cannot seek.
long long importInputOffset(const ImportReader* p);
// Makes reading go on from a position importInputOffset gave; false when the
// input cannot seek there.
bool seekImportInput(ImportReader* p, long long iOffset);

// Copies the rest of the input to pTo (Ctrl-C stops the copy).  False when
// Ctrl-C was pressed or a write failed.
bool copyImportInput(ImportReader* p, FILE* pTo);

// Loads the next block of input into aBlock; false at the end of input.  For
// readers of other formats, which take their bytes from the block directly.
bool importRefill(ImportReader* p);
// Appends n bytes to zField (cut at the field cap, marking bFieldTooLong).
void appendImportBytes(ImportReader* p, const unsigned char* z, size_t n);
