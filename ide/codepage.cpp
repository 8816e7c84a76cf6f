#include "codepage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

// The byte count runs 32 bytes at a time where the processor can (AVX2,
// chosen at run time); the plain loop is the reference and the fallback.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KESTO_AVX2_COUNT 1
#include <immintrin.h>
#endif

namespace kesto::codepage {
namespace {

// Upper half of Windows-1250, bytes 0x80..0xFF, a row of its chart a line.
constexpr std::u16string_view cp1250High =
    u"\u20AC\u0081\u201A\u0083\u201E\u2026\u2020\u2021\u0088\u2030\u0160\u2039\u015A\u0164\u017D\u0179"  // 80
    u"\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u0098\u2122\u0161\u203A\u015B\u0165\u017E\u017A"  // 90
    u"\u00A0\u02C7\u02D8\u0141\u00A4\u0104\u00A6\u00A7\u00A8\u00A9\u015E\u00AB\u00AC\u00AD\u00AE\u017B"  // A0
    u"\u00B0\u00B1\u02DB\u0142\u00B4\u00B5\u00B6\u00B7\u00B8\u0105\u015F\u00BB\u013D\u02DD\u013E\u017C"  // B0
    u"\u0154\u00C1\u00C2\u0102\u00C4\u0139\u0106\u00C7\u010C\u00C9\u0118\u00CB\u011A\u00CD\u00CE\u010E"  // C0
    u"\u0110\u0143\u0147\u00D3\u00D4\u0150\u00D6\u00D7\u0158\u016E\u00DA\u0170\u00DC\u00DD\u0162\u00DF"  // D0
    u"\u0155\u00E1\u00E2\u0103\u00E4\u013A\u0107\u00E7\u010D\u00E9\u0119\u00EB\u011B\u00ED\u00EE\u010F"  // E0
    u"\u0111\u0144\u0148\u00F3\u00F4\u0151\u00F6\u00F7\u0159\u016F\u00FA\u0171\u00FC\u00FD\u0163\u02D9"; // F0
static_assert(cp1250High.size() == 128);

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

// Polish letters that only Windows-1250 has at their bytes: in code page 852
// these are letters of other languages, none a frame character.
constexpr std::array<unsigned char, 12> windowsOnlyLetters = {0x8C, 0x9C, 0x9F, 0xA3, 0xAF, 0xC6,
                                                              0xD1, 0xD3, 0xE6, 0xEA, 0xF1, 0xF3};

constexpr char16_t cp1250(unsigned char b) { return b < 0x80 ? b : cp1250High[b - 0x80]; }

constexpr std::array<char16_t, 256> makeSourceTable(bool overlaid)
{
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = cp1250(static_cast<unsigned char>(b));
    for (const Letter &l : cp852Letters)
        t[l.byte] = overlaid ? l.letter : t[l.byte];
    return t;
}
constexpr std::array<char16_t, 256> sourceTable = makeSourceTable(true);
constexpr std::array<char16_t, 256> plainTable = makeSourceTable(false);

// UTF-8 of every decoded source byte: `len` bytes in `bytes`.
struct Utf8Char {
    unsigned char len;
    unsigned char bytes[3];
};
constexpr std::array<Utf8Char, 256> makeUtf8Table(const std::array<char16_t, 256> &table)
{
    std::array<Utf8Char, 256> t{};
    for (int b = 0; b < 256; ++b) {
        const char16_t c = table[b];
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
constexpr std::array<Utf8Char, 256> utf8Table = makeUtf8Table(sourceTable);
constexpr std::array<Utf8Char, 256> plainUtf8Table = makeUtf8Table(plainTable);

// What the reading rule looks at in each byte: the UTF-8 bytes beyond one
// that it takes in the overlaid reading, and whether it is a letter of only
// one of the two code pages, or Ą's or Ź's byte, a letter of both. Plain
// Windows-1250 takes as many UTF-8 bytes, but for the two code-page-852
// letters whose Windows-1250 characters need three (ć's † and Ś's —).
enum : unsigned char { extraMask = 3, windowsLetter = 4, dosLetter = 8, sharedLetter = 16, widerLetter = 32 };
constexpr std::array<unsigned char, 256> makeByteClass()
{
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<unsigned char>(utf8Table[b].len - 1);
    for (const unsigned char b : windowsOnlyLetters)
        t[b] |= windowsLetter;
    for (const Letter &l : cp852Letters) {
        t[l.byte] |= l.byte != 0xA5 && l.byte != 0x8F ? dosLetter : sharedLetter;
        if (plainUtf8Table[l.byte].len > utf8Table[l.byte].len)
            t[l.byte] |= widerLetter;
    }
    return t;
}
constexpr std::array<unsigned char, 256> byteClass = makeByteClass();

// The same as five counts in the fields of one word, so that a byte is
// counted by one addition: 16 bits for the extra UTF-8 bytes, then 12 for
// each kind of letter.
constexpr int letterBits = 12;
constexpr std::uint64_t letterField = (1u << letterBits) - 1;
constexpr std::array<std::uint64_t, 256> makeByteCounts()
{
    std::array<std::uint64_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        const unsigned char k = byteClass[b];
        t[b] = k & extraMask;
        int shift = 16;
        for (const unsigned char kind : {windowsLetter, dosLetter, sharedLetter, widerLetter}) {
            t[b] |= std::uint64_t((k & kind) != 0) << shift;
            shift += letterBits;
        }
    }
    return t;
}
constexpr std::array<std::uint64_t, 256> byteCounts = makeByteCounts();
// Bytes counted into one word before its fields are emptied: a byte adds at
// most 1 to a letter's field (and 2 to the first).
constexpr std::size_t packedBlock = letterField;

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

void appendSourceAsUtf8(const unsigned char *bytes, std::size_t count, std::string &out,
                        SourceEncoding encoding)
{
    if (encoding == SourceEncoding::Utf8) {
        out.append(reinterpret_cast<const char *>(bytes), count);
        return;
    }
    const std::array<Utf8Char, 256> &table = encoding == SourceEncoding::Cp1250 ? plainUtf8Table : utf8Table;
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
        const Utf8Char &u = table[b];
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

// --- the reading rule ------------------------------------------------------------

SourceScanner::Counts SourceScanner::countPlain(const unsigned char *bytes, std::size_t count)
{
    Counts c;
    for (std::size_t from = 0; from < count; from += packedBlock) {
        const std::size_t end = std::min(count, from + packedBlock);
        std::uint64_t packed = 0;
        std::size_t i = from;
        // Eight bytes at a time, without a branch per byte: in a text a third
        // of whose bytes are letters, one per byte would be mispredicted often.
        for (; i + 8 <= end; i += 8) {
            if (isAscii8(bytes + i))
                continue;
            for (std::size_t k = i; k < i + 8; ++k)
                packed += byteCounts[bytes[k]];
        }
        for (; i < end; ++i)
            packed += byteCounts[bytes[i]];
        c.extraUtf8 += packed & 0xFFFF;
        c.windowsLetters += (packed >> 16) & letterField;
        c.dosLetters += (packed >> (16 + letterBits)) & letterField;
        c.sharedLetters += (packed >> (16 + 2 * letterBits)) & letterField;
        c.widerInCp1250 += packed >> (16 + 3 * letterBits);
    }
    return c;
}

#ifdef KESTO_AVX2_COUNT
namespace {

// A byte's membership of sets of bytes from 0x80 up, from its two nibbles:
// each set is cut into groups, each the high nibbles that share one set of
// low nibbles, and each group has a bit; a byte is in set k when
// `low[lo] & high[hi] & mask[k]` is not 0. Sets whose groups fit one byte
// together share one pair of lookups.
template <std::size_t N> struct NibbleSets {
    unsigned char low[16]{}, high[16]{}, mask[N]{};
};
// `kinds` are bits of byteClass; 0 stands for the bytes of three UTF-8 bytes.
template <std::size_t N> constexpr NibbleSets<N> nibbleSetsOf(const unsigned char (&kinds)[N])
{
    NibbleSets<N> s;
    unsigned short groups[8]{};
    int used = 0;
    for (std::size_t k = 0; k < N; ++k) {
        const int first = used;
        for (int hi = 8; hi < 16; ++hi) {
            unsigned short lows = 0;
            for (int lo = 0; lo < 16; ++lo) {
                const unsigned char c = byteClass[hi * 16 + lo];
                if (kinds[k] == 0 ? (c & extraMask) == 2 : (c & kinds[k]) != 0)
                    lows = static_cast<unsigned short>(lows | (1u << lo));
            }
            if (lows == 0)
                continue;
            int g = first;
            while (g < used && groups[g] != lows)
                ++g;
            if (g == used)
                groups[used++] = lows; // at most 8 groups: a group more would not fit a byte
            s.high[hi] = static_cast<unsigned char>(s.high[hi] | (1u << g));
            s.mask[k] = static_cast<unsigned char>(s.mask[k] | (1u << g));
            for (int lo = 0; lo < 16; ++lo)
                if (lows & (1u << lo))
                    s.low[lo] = static_cast<unsigned char>(s.low[lo] | (1u << g));
        }
    }
    return s;
}
constexpr unsigned char windowsKinds[] = {windowsLetter}, dosKinds[] = {dosLetter},
                        fewKinds[] = {0, sharedLetter, widerLetter};
constexpr NibbleSets<1> windowsLetters = nibbleSetsOf(windowsKinds);
constexpr NibbleSets<1> dosLetters = nibbleSetsOf(dosKinds);
// Three-byte characters, Ą's and Ź's bytes, † and —: a few groups each.
constexpr NibbleSets<3> fewBytes = nibbleSetsOf(fewKinds);

#define KESTO_AVX2 __attribute__((target("avx2"), always_inline)) inline

KESTO_AVX2 __m256i nibbleTable(const unsigned char (&t)[16])
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t)));
}

// Each byte of `lo` and `hi` (the nibbles of 32 bytes) in the sets: the bits
// of its groups.
KESTO_AVX2 __m256i member(__m256i lo, __m256i hi, __m256i lowTable, __m256i highTable)
{
    return _mm256_and_si256(_mm256_shuffle_epi8(lowTable, lo), _mm256_shuffle_epi8(highTable, hi));
}

// The sum of the 32 byte-wide counters in `v`.
KESTO_AVX2 std::size_t sum(__m256i v)
{
    const __m256i sums = _mm256_sad_epu8(v, _mm256_setzero_si256());
    return static_cast<std::size_t>(_mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                                    _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3));
}

__attribute__((target("avx2"))) SourceScanner::Counts countAvx2(const unsigned char *bytes, std::size_t count)
{
    const __m256i lowW = nibbleTable(windowsLetters.low), highW = nibbleTable(windowsLetters.high);
    const __m256i lowD = nibbleTable(dosLetters.low), highD = nibbleTable(dosLetters.high);
    const __m256i lowF = nibbleTable(fewBytes.low), highF = nibbleTable(fewBytes.high);
    const __m256i three = _mm256_set1_epi8(static_cast<char>(fewBytes.mask[0]));
    const __m256i shared = _mm256_set1_epi8(static_cast<char>(fewBytes.mask[1]));
    const __m256i wider = _mm256_set1_epi8(static_cast<char>(fewBytes.mask[2]));
    const __m256i nibble = _mm256_set1_epi8(0x0F), one = _mm256_set1_epi8(1), zero = _mm256_setzero_si256();
    SourceScanner::Counts c;
    std::size_t i = 0;
    while (i + 32 <= count) {
        // Byte-wide counters, summed up before they could overflow.
        __m256i nHigh = zero, nThree = zero, nWindows = zero, nDos = zero, nShared = zero, nWider = zero;
        for (const std::size_t end = std::min(count, i + std::size_t(32 * 255)); i + 32 <= end; i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + i));
            if (_mm256_movemask_epi8(v) == 0)
                continue;
            const __m256i lo = _mm256_and_si256(v, nibble);
            const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
            const __m256i few = member(lo, hi, lowF, highF);
            nWindows = _mm256_add_epi8(nWindows, _mm256_min_epu8(member(lo, hi, lowW, highW), one));
            nDos = _mm256_add_epi8(nDos, _mm256_min_epu8(member(lo, hi, lowD, highD), one));
            nThree = _mm256_add_epi8(nThree, _mm256_min_epu8(_mm256_and_si256(few, three), one));
            nShared = _mm256_add_epi8(nShared, _mm256_min_epu8(_mm256_and_si256(few, shared), one));
            nWider = _mm256_add_epi8(nWider, _mm256_min_epu8(_mm256_and_si256(few, wider), one));
            nHigh = _mm256_sub_epi8(nHigh, _mm256_cmpgt_epi8(zero, v));
        }
        c.extraUtf8 += sum(nHigh) + sum(nThree);
        c.windowsLetters += sum(nWindows);
        c.dosLetters += sum(nDos);
        c.sharedLetters += sum(nShared);
        c.widerInCp1250 += sum(nWider);
    }
    const SourceScanner::Counts tail = SourceScanner::countPlain(bytes + i, count - i);
    c.extraUtf8 += tail.extraUtf8;
    c.windowsLetters += tail.windowsLetters;
    c.dosLetters += tail.dosLetters;
    c.sharedLetters += tail.sharedLetters;
    c.widerInCp1250 += tail.widerInCp1250;
    return c;
}

} // namespace
#endif

SourceScanner::Counts SourceScanner::count(const unsigned char *bytes, std::size_t count)
{
#ifdef KESTO_AVX2_COUNT
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return countAvx2(bytes, count);
#endif
    return countPlain(bytes, count);
}

void SourceScanner::validateUtf8(const unsigned char *bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count && m_utf8Valid; ++i) {
        const unsigned char b = bytes[i];
        if (m_pending > 0) {
            m_utf8Valid = b >= m_low && b <= m_high;
            m_low = 0x80;
            m_high = 0xBF;
            --m_pending;
            continue;
        }
        while (i + 8 <= count && isAscii8(bytes + i))
            i += 8;
        if (i == count)
            break;
        const unsigned char lead = bytes[i];
        if (lead < 0x80)
            continue;
        // The well-formed sequences of Unicode's table 3-7: no overlong
        // forms, no surrogates, nothing above U+10FFFF.
        m_multibyte = true;
        m_pending = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
        m_low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        m_high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        m_utf8Valid = lead >= 0xC2 && lead <= 0xF4;
    }
}

void SourceScanner::feed(const unsigned char *bytes, std::size_t count)
{
    static constexpr unsigned char byteOrderMark[] = {0xEF, 0xBB, 0xBF};
    for (std::size_t i = 0; i < count && m_bytes + i < 3; ++i)
        m_bom = bytes[i] == byteOrderMark[m_bytes + i] && (m_bytes + i == 0 || m_bom);
    if (m_utf8Valid)
        validateUtf8(bytes, count);
    const Counts c = SourceScanner::count(bytes, count);
    m_counts.extraUtf8 += c.extraUtf8;
    m_counts.windowsLetters += c.windowsLetters;
    m_counts.dosLetters += c.dosLetters;
    m_counts.sharedLetters += c.sharedLetters;
    m_counts.widerInCp1250 += c.widerInCp1250;
    m_bytes += count;
}

SourceEncoding SourceScanner::encoding() const
{
    if (m_utf8Valid && m_pending == 0 && m_multibyte)
        return SourceEncoding::Utf8;
    // The larger count wins: a Windows-1250 text with an em dash or a ©
    // (bytes of code-page-852 letters) still has more ó, ę and ś, and a DOS
    // text more of its letters than of the few foreign ones that share
    // bytes with Windows-1250's.
    if (m_counts.windowsLetters > m_counts.dosLetters)
        return SourceEncoding::Cp1250;
    return SourceEncoding::Cp852Letters;
}

bool SourceScanner::readsAsCp1250() const
{
    switch (encoding()) {
    case SourceEncoding::Cp1250: return true;
    case SourceEncoding::Cp852Letters: return m_counts.dosLetters == 0 && m_counts.sharedLetters == 0;
    case SourceEncoding::Utf8: break;
    }
    return false;
}

std::size_t SourceScanner::utf8Size(SourceEncoding as) const
{
    if (as == SourceEncoding::Utf8)
        return m_bytes - (m_bom && m_bytes >= 3 ? 3 : 0);
    return m_bytes + m_counts.extraUtf8 + (as == SourceEncoding::Cp1250 ? m_counts.widerInCp1250 : 0);
}

} // namespace kesto::codepage
