// The append VFS "apndvfs": a database stored at the end of another file (an executable, say),
// located through a 25-byte mark written after the database image.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <optional>

// Registers "apndvfs" as a non-default VFS over the current default VFS. The VFS is process-wide:
// the connection and error arguments are accepted only so the call has the shape of the other
// extensions' entry points, and are not used. Returns SQLITE_OK_LOAD_PERMANENTLY on success,
// SQLITE_ERROR when there is no default VFS, or the registration's error.
int appendVfsRegister(sqlite3* db = nullptr, char** pzErrMsg = nullptr);

// The name the VFS is registered under.
inline constexpr const char* appendVfsName = "apndvfs";

// Layout of the mark: the prefix, then the database start as an 8-byte big-endian integer.
inline constexpr std::size_t appendMarkPrefixSize = 17;
inline constexpr std::size_t appendMarkSize = 25;
inline constexpr char appendMarkPrefix[] = "Start-Of-SQLite3-";

// Builds the 25-byte mark for a database that starts at iDbStart.
void appendBuildMark(std::int64_t iDbStart, unsigned char* aMark);

// Decodes the mark a file of nFileSize bytes ends with (aTail: its last 25 bytes). Returns the
// database start, or nothing when the bytes are not a valid mark for a file of that size.
std::optional<std::int64_t> appendDecodeMark(const unsigned char* aTail, std::int64_t nFileSize);
