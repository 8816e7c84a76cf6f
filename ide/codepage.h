#pragma once
// The two byte tables of the program, free of Qt so they can be fuzzed alone:
// Windows-1250 (the 8-bit code page of the lab machines) and the 18 Polish
// letters of code page 852 that DOS editors wrote, laid over it on loading.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::codepage {

// Windows-1250, total: the five bytes the code page leaves unassigned
// (0x81, 0x83, 0x88, 0x90, 0x98) decode to the C1 control of the same value,
// so every byte round-trips.
char16_t decodeCp1250(unsigned char byte);

// A source-file byte: one of the 18 code-page-852 letters, otherwise Windows-1250.
char16_t decodeSourceByte(unsigned char byte);

// Windows-1250 byte for a code point, or -1 when the code page cannot hold it.
int encodeCp1250(char32_t codePoint);

// Appends the UTF-8 form of the source bytes to `out`, one character per byte.
void appendSourceAsUtf8(const unsigned char *bytes, std::size_t count, std::string &out);

// Largest UTF-8 length of one decoded source byte.
constexpr std::size_t maxUtf8PerByte = 3;

struct EncodeResult {
    std::size_t unmappable = 0;        // characters written as '?'
    std::size_t firstUnmappableAt = 0; // offset in the UTF-8 input of the first one
    char32_t firstUnmappable = 0;
};

// Writes the Windows-1250 bytes of UTF-8 text to `out`, which has room for
// at least in.size() bytes, and returns how many it wrote; characters the
// code page cannot hold, and malformed UTF-8, become '?' and are counted
// into `result` (offsets relative to `in`).
std::size_t encodeUtf8AsCp1250(std::string_view in, char *out, EncodeResult &result);

// Appends the Windows-1250 bytes of UTF-8 text to `out`. Characters the code
// page cannot hold, and malformed UTF-8, become '?' and are counted.
EncodeResult appendUtf8AsCp1250(std::string_view utf8, std::string &out);

} // namespace kesto::codepage
