#include "codepage.h"

#include <array>
#include <cstring>

namespace kesto::codepage {
namespace {

// Upper half of Windows-1250, bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> cp1250High = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

struct Letter {
    unsigned char byte;
    char16_t letter;
};

// The Polish letters of code page 852.
constexpr std::array<Letter, 18> cp852Letters = {{{0xA5, 0x0105},
                                                  {0xA9, 0x0119},
                                                  {0xA2, 0x00F3},
                                                  {0x98, 0x015B},
                                                  {0x88, 0x0142},
                                                  {0xBE, 0x017C},
                                                  {0xAB, 0x017A},
                                                  {0x86, 0x0107},
                                                  {0xE4, 0x0144},
                                                  {0xA4, 0x0104},
                                                  {0xA8, 0x0118},
                                                  {0xE0, 0x00D3},
                                                  {0x97, 0x015A},
                                                  {0x9D, 0x0141},
                                                  {0xBD, 0x017B},
                                                  {0x8D, 0x0179},
                                                  {0x8F, 0x0106},
                                                  {0xE3, 0x0143}}};

constexpr char16_t cp1250(unsigned char b) { return b < 0x80 ? b : cp1250High[b - 0x80]; }

constexpr std::array<char16_t, 256> makeSourceTable()
{
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = cp1250(static_cast<unsigned char>(b));
    for (const Letter &l : cp852Letters)
        t[l.byte] = l.letter;
    return t;
}
constexpr std::array<char16_t, 256> sourceTable = makeSourceTable();

// UTF-8 of every decoded source byte: `len` bytes in `bytes`.
struct Utf8Char {
    unsigned char len;
    unsigned char bytes[3];
};
constexpr std::array<Utf8Char, 256> makeUtf8Table()
{
    std::array<Utf8Char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        const char16_t c = sourceTable[b];
        if (c < 0x80) {
            t[b] = {1, {static_cast<unsigned char>(c), 0, 0}};
        } else if (c < 0x800) {
            t[b] = {2,
                    {static_cast<unsigned char>(0xC0 | (c >> 6)),
                     static_cast<unsigned char>(0x80 | (c & 0x3F)), 0}};
        } else {
            t[b] = {3,
                    {static_cast<unsigned char>(0xE0 | (c >> 12)),
                     static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)),
                     static_cast<unsigned char>(0x80 | (c & 0x3F))}};
        }
    }
    return t;
}
constexpr std::array<Utf8Char, 256> utf8Table = makeUtf8Table();

// Reverse of Windows-1250 for code points up to the highest one it holds (U+2122).
constexpr char32_t reverseLimit = 0x2123;
constexpr std::array<unsigned char, reverseLimit> makeReverse()
{
    std::array<unsigned char, reverseLimit> r{};
    for (int b = 0x80; b < 256; ++b)
        r[cp1250High[b - 0x80]] = static_cast<unsigned char>(b);
    return r;
}
constexpr std::array<unsigned char, reverseLimit> reverseTable = makeReverse();

bool isAscii8(const unsigned char *p)
{
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
}

} // namespace

char16_t decodeCp1250(unsigned char byte) { return cp1250(byte); }

char16_t decodeSourceByte(unsigned char byte) { return sourceTable[byte]; }

int encodeCp1250(char32_t cp)
{
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (cp < reverseLimit && reverseTable[cp] != 0)
        return reverseTable[cp];
    return -1;
}

void appendSourceAsUtf8(const unsigned char *bytes, std::size_t count, std::string &out)
{
    const std::size_t start = out.size();
    out.resize(start + count * maxUtf8PerByte);
    char *dst = out.data() + start;
    for (std::size_t i = 0; i < count; ++i) {
        // Most of a source is ASCII: copy it eight bytes at a time.
        while (i + 8 <= count && isAscii8(bytes + i)) {
            std::memcpy(dst, bytes + i, 8);
            dst += 8;
            i += 8;
        }
        if (i == count)
            break;
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            *dst++ = static_cast<char>(b);
            continue;
        }
        const Utf8Char &u = utf8Table[b];
        for (unsigned k = 0; k < u.len; ++k)
            *dst++ = static_cast<char>(u.bytes[k]);
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

std::size_t encodeUtf8AsCp1250(std::string_view in, char *out, EncodeResult &result)
{
    char *dst = out;
    const auto *s = reinterpret_cast<const unsigned char *>(in.data());
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        if (i + 8 <= n && isAscii8(s + i)) {
            std::memcpy(dst, s + i, 8);
            dst += 8;
            i += 8;
            continue;
        }
        const unsigned char b = s[i];
        if (b < 0x80) {
            *dst++ = static_cast<char>(b);
            ++i;
            continue;
        }
        // The Polish letters are two-byte sequences: take those straight.
        if (b >= 0xC2 && b < 0xE0 && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
            const unsigned char mapped = reverseTable[((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu)];
            if (mapped != 0) {
                *dst++ = static_cast<char>(mapped);
                i += 2;
                continue;
            }
        }
        // Decode one UTF-8 sequence; anything malformed counts as one unmappable byte.
        char32_t cp = 0;
        std::size_t len = 0;
        if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            len = 4;
        }
        bool ok = len != 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // An overlong form is malformed too, even where its value would fit:
        // C0 80 must not slip through as a NUL byte.
        constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && cp < shortest[len])
            ok = false;
        if (!ok)
            len = 1;
        const int mapped = ok ? encodeCp1250(cp) : -1;
        if (mapped < 0) {
            if (result.unmappable++ == 0) {
                result.firstUnmappableAt = i;
                result.firstUnmappable = ok ? cp : 0xFFFD;
            }
            *dst++ = '?';
        } else {
            *dst++ = static_cast<char>(mapped);
        }
        i += len;
    }
    return static_cast<std::size_t>(dst - out);
}

EncodeResult appendUtf8AsCp1250(std::string_view in, std::string &out)
{
    EncodeResult result;
    const std::size_t start = out.size();
    out.resize(start + in.size());
    out.resize(start + encodeUtf8AsCp1250(in, out.data() + start, result));
    return result;
}

} // namespace kesto::codepage
