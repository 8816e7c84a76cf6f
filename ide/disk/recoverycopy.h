#pragma once
// The recovery copy: the unsaved text of the document with what is needed to
// put it back as it was (its path, whether it was untitled, the identity of
// its file), behind a header that lets a damaged or truncated copy be told
// from a whole one.

#include "fileidentity.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::recovery {

struct Copy {
    std::string text; // the editor's text, UTF-8, byte for byte
    std::string path; // the document's path, UTF-8 (noname.asm when untitled)
    bool untitled = false;
    FileIdentity identity;
    std::int64_t writtenMs = 0; // when the text was taken, ms since the epoch (UTC)
};

// What came of a copy handed to the writer (recoverywriter.h), or of its removal.
struct Outcome {
    enum Kind { Written, Failed, Removed } kind;
    std::int64_t takenMs = 0; // Written and Failed: when the copy's text was taken
};

// The layout, all numbers little-endian:
//   0  "KESTOREC"        8  format version      12 flags (1 untitled, 2 identity)
//   16 device            24 inode               32 size
//   40 mtime (ns)        48 time taken (ms)     56 path bytes (32 bit)
//   60 text bytes        68 CRC-32 of everything else, path and text included
//   72 ctime (ns)        80 the path, then the text
// Version 1, without the ctime, is still read (a copy an older run left):
// its path starts at 72, and its file counts as changed since, so that the
// first save of the text it gives back asks.
inline constexpr std::size_t headerSize = 80;
inline constexpr std::uint32_t formatVersion = 2;
// Copies of texts larger than the program opens are never written or read.
inline constexpr std::uint64_t maxTextBytes = std::uint64_t(1) << 30;
inline constexpr std::uint32_t maxPathBytes = 1 << 16;

// The header for `copy` (whose text is ignored) followed by the path; the
// text follows it in the file. The checksum covers the text as well.
std::string encodeHead(const Copy &copy, std::string_view text);

enum class ReadError { None, Unreadable, NotPlainFile, Empty, TooLarge, Truncated, Damaged };

struct ReadResult {
    ReadError error = ReadError::Unreadable;
    Copy copy;
};

// Reads and decodes the copy at `path`, refusing anything but a plain file
// of a plausible size before reading a byte of it.
ReadResult readFile(const QString &path);

// CRC-32 (IEEE 802.3), continued from `crc` (0 to start).
std::uint32_t crc32(std::uint32_t crc, const void *data, std::size_t size);

// For the tests and fuzzers only (with modOtworz::readSourceFile,
// WriteResult::way and WriteOptions::unnamedTemporary): the copy held in
// `bytes` (a whole file), as readFile decodes it; never trusts a length it
// was given.
ReadResult decode(std::string_view bytes);

} // namespace kesto::recovery
