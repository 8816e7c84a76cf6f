// libFuzzer target for the byte tables alone, with no Qt and no files.
//
// The input is taken three times: as the bytes of a source file (decoded
// with the letter table, encoded as Save does), as a whole file whose reading
// the rule decides (checked against the rule written out here once more), and
// as editor text in UTF-8, valid or not. Every check aborts with a message,
// so libFuzzer keeps the input.

#define FUZZ_TARGET "fuzz_codec"
#include "fuzzcheck.h"

#include "codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace kesto;

namespace {

// The 18 code-page-852 letters, written out here once more on purpose: the
// fuzzer checks the program's table against this one.
constexpr std::array<std::pair<unsigned char, char16_t>, 18> letters = {{{0xA5, u'ą'},
                                                                         {0xA9, u'ę'},
                                                                         {0xA2, u'ó'},
                                                                         {0x98, u'ś'},
                                                                         {0x88, u'ł'},
                                                                         {0xBE, u'ż'},
                                                                         {0xAB, u'ź'},
                                                                         {0x86, u'ć'},
                                                                         {0xE4, u'ń'},
                                                                         {0xA4, u'Ą'},
                                                                         {0xA8, u'Ę'},
                                                                         {0xE0, u'Ó'},
                                                                         {0x97, u'Ś'},
                                                                         {0x9D, u'Ł'},
                                                                         {0xBD, u'Ż'},
                                                                         {0x8D, u'Ź'},
                                                                         {0x8F, u'Ć'},
                                                                         {0xE3, u'Ń'}}};

std::optional<char16_t> letterOf(unsigned char b)
{
    for (const auto &[byte, letter] : letters)
        if (byte == b)
            return letter;
    return std::nullopt;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
// Returns the code points, or nothing when the input is malformed.
std::optional<std::vector<char32_t>> strictUtf8(std::string_view s)
{
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (b < 0x80) {
            len = 1, cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07, least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + len > s.size())
            return std::nullopt;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        out.push_back(cp);
        i += len;
    }
    return out;
}

std::string decode(std::string_view bytes)
{
    std::string text;
    codepage::appendSourceAsUtf8(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), text);
    return text;
}

std::string encodeClean(std::string_view text)
{
    std::string bytes;
    const codepage::EncodeResult r = codepage::appendUtf8AsCp1250(text, bytes);
    CHECK_AT(r.unmappable == 0, r.firstUnmappableAt);
    return bytes;
}

// The input as the bytes of a file: Open, then Save, then Open and Save again.
void fileBytes(std::string_view in)
{
    const std::string text = decode(in);
    const auto cps = strictUtf8(text);
    CHECK_AT(cps.has_value(), 0);
    CHECK_AT(cps->size() == in.size(), cps->size()); // one character per byte, nothing dropped
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto b = static_cast<unsigned char>(in[i]);
        const char32_t cp = (*cps)[i];
        const std::optional<char16_t> letter = letterOf(b);
        CHECK_AT(cp == codepage::decodeSourceByte(b), i);
        if (letter)
            CHECK_AT(cp == *letter, i);
        else
            CHECK_AT(cp == codepage::decodeCp1250(b), i);
        if (b < 0x80)
            CHECK_AT(cp == b, i);
        CHECK_AT(cp != 0xFFFD, i);
    }

    // The first save: every byte outside the table comes back as it was; a
    // table letter is written as its Windows-1250 byte, which reads back as
    // the same letter unless that byte is itself in the table.
    const std::string saved = encodeClean(text);
    CHECK_AT(saved.size() == in.size(), saved.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const auto b = static_cast<unsigned char>(in[i]);
        const auto s = static_cast<unsigned char>(saved[i]);
        if (const std::optional<char16_t> letter = letterOf(b)) {
            CHECK_AT(codepage::encodeCp1250(*letter) == s, i);
            CHECK_AT(codepage::decodeCp1250(s) == *letter, i);
        } else {
            CHECK_AT(s == b, i);
        }
    }

    // Open-then-save of a saved file changes nothing, except for the two
    // Windows-1250 capitals whose bytes the table claims: Ą (A5) reads back
    // as ą and Ź (8F) as Ć, as every file goes through the table. From the
    // second save on the file is stable.
    const std::string again = encodeClean(decode(saved));
    CHECK_AT(again.size() == saved.size(), again.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const auto s = static_cast<unsigned char>(saved[i]);
        const auto a = static_cast<unsigned char>(again[i]);
        const unsigned char expected = s == 0xA5 ? 0xB9 : s == 0x8F ? 0xC6 : s;
        CHECK_AT(a == expected, i);
    }
    CHECK_AT(encodeClean(decode(again)) == again, 0);
}

// The input as editor text: the encoder must be total whatever it is handed,
// and exact on well-formed UTF-8.
void editorText(std::string_view in)
{
    std::string out;
    const codepage::EncodeResult r = codepage::appendUtf8AsCp1250(in, out);
    CHECK_AT(out.size() <= in.size(), out.size());
    const auto cps = strictUtf8(in);
    if (!cps) {
        CHECK_AT(r.unmappable > 0, 0); // malformed text never passes silently
        CHECK_AT(r.firstUnmappableAt < in.size(), r.firstUnmappableAt);
        return;
    }
    CHECK_AT(out.size() == cps->size(), out.size()); // one byte per character
    std::size_t unmappable = 0;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < cps->size(); ++i) {
        const char32_t cp = (*cps)[i];
        const int mapped = codepage::encodeCp1250(cp);
        const auto o = static_cast<unsigned char>(out[i]);
        if (mapped < 0) {
            CHECK_AT(o == '?', i);
            if (unmappable++ == 0) {
                CHECK_AT(r.firstUnmappable == cp, i);
                CHECK_AT(r.firstUnmappableAt == offset, i);
            }
        } else {
            CHECK_AT(mapped == o, i);
            CHECK_AT(codepage::decodeCp1250(o) == cp, i);
        }
        offset += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    }
    CHECK_AT(r.unmappable == unmappable, unmappable);
}

// The reading rule: UTF-8 when the file is valid UTF-8 with a character of
// more than one byte (a byte-order mark counts and is dropped); else plain
// Windows-1250 when it holds more letters only that code page has than
// code-page-852 letters but Ą's and Ź's; else the letter table.
void readingRule(std::string_view in)
{
    static constexpr unsigned char windowsOnly[] = {0x8C, 0x9C, 0x9F, 0xA3, 0xAF, 0xC6,
                                                    0xD1, 0xD3, 0xE6, 0xEA, 0xF1, 0xF3};
    std::size_t windows = 0, dos = 0, shared = 0;
    for (const char c : in) {
        const auto b = static_cast<unsigned char>(c);
        windows += std::find(std::begin(windowsOnly), std::end(windowsOnly), b) != std::end(windowsOnly);
        dos += letterOf(b) && b != 0xA5 && b != 0x8F;
        shared += b == 0xA5 || b == 0x8F;
    }
    const auto cps = strictUtf8(in);
    const bool utf8 = cps && std::any_of(cps->begin(), cps->end(), [](char32_t c) { return c >= 0x80; });
    const auto expected = utf8            ? codepage::SourceEncoding::Utf8
                          : windows > dos ? codepage::SourceEncoding::Cp1250
                                          : codepage::SourceEncoding::Cp852Letters;

    // Pieces of varied sizes: whatever a piece ends in carries over.
    codepage::SourceScanner scanner;
    for (std::size_t at = 0, step = 1; at < in.size(); at += step, step = step % 7 + 1)
        scanner.feed(reinterpret_cast<const unsigned char *>(in.data()) + at, std::min(step, in.size() - at));
    CHECK(scanner.encoding() == expected);
    const codepage::SourceScanner::Counts &counts = scanner.counts();
    CHECK(counts.windowsLetters == windows && counts.dosLetters == dos && counts.sharedLetters == shared);
    // Read back as written exactly when no byte reads otherwise than in Windows-1250.
    CHECK(scanner.readsAsCp1250() == (!utf8 && (windows > dos || dos + shared == 0)));
    const bool mark = in.substr(0, 3) == "\xEF\xBB\xBF";
    const std::string_view body = expected == codepage::SourceEncoding::Utf8 && mark ? in.substr(3) : in;
    std::string text;
    codepage::appendSourceAsUtf8(reinterpret_cast<const unsigned char *>(body.data()), body.size(), text,
                                 expected);
    CHECK(scanner.utf8Size() == text.size());
    // The counting the processor speeds up agrees with the plain loop, at every alignment.
    for (std::size_t from = 0; from < std::min<std::size_t>(in.size(), 33); ++from) {
        const auto *p = reinterpret_cast<const unsigned char *>(in.data()) + from;
        const auto fast = codepage::SourceScanner::count(p, in.size() - from);
        const auto plain = codepage::SourceScanner::countPlain(p, in.size() - from);
        CHECK_AT(fast == plain, from);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    fileBytes(in);
    readingRule(in);
    editorText(in);
    return 0;
}
