// libFuzzer target for the editor's position bookkeeping, without a window:
// the input is a script of insertions and deletions on a text held in a
// plain string, announced as the control announces them. After each step
// the kept counts must equal those counted afresh: length, character and
// byte positions both ways, and the line breaks before a position.

#define FUZZ_TARGET "fuzz_positions"
#include "fuzzcheck.h"

#include "textpositions.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace kesto;

namespace {

// The text as the control holds it, with the control's line index: CR LF,
// a lone CR and a lone LF each end a line.
struct StringBytes : TextBytes {
    std::string text;
    long size() const override { return static_cast<long>(text.size()); }
    char at(long pos) const override { return text[static_cast<std::size_t>(pos)]; }
    const char *range(long from, long) const override { return text.data() + from; }
    long lineOf(long pos) const override
    {
        long line = 0;
        for (long j = 0; j < pos; ++j) {
            const char c = text[static_cast<std::size_t>(j)];
            line += c == '\n' ||
                    (c == '\r' && (j + 1 == size() || text[static_cast<std::size_t>(j) + 1] != '\n'));
        }
        return line;
    }
};

// Whole characters only, as the control inserts them.
constexpr std::array<std::string_view, 10> pieces = {"\r",          "\n",   "\r\n", "ab", "ż",
                                                     "x\r\ny\nz\r", "\n\r", "😀ą",   "\0", "\t"};

// Each place between two characters (and both ends): its UTF-16 unit and
// its byte. A place inside a surrogate pair is no place to stand.
struct Place {
    std::ptrdiff_t unit;
    long byte;
};
std::vector<Place> placesIn(const std::string &s)
{
    std::vector<Place> places;
    std::ptrdiff_t unit = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) == 0x80)
            continue;
        places.push_back({unit, static_cast<long>(i)});
        unit += b >= 0xF0 ? 2 : 1;
    }
    places.push_back({unit, static_cast<long>(s.size())});
    return places;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    StringBytes bytes;
    bytes.text = "start\r\nline\nthree\r";
    TextPositions positions(bytes);
    positions.reset(countText(bytes.text));
    for (std::size_t i = 0; i + 2 < size; i += 3) {
        std::vector<Place> places = placesIn(bytes.text);
        const Place at = places[data[i] % places.size()];
        // Every step starts from a position asked of the bookkeeping, as the
        // window's commands do, so its anchor wanders with them.
        CHECK(positions.toByte(at.unit) == at.byte);
        if (data[i + 1] & 1) {
            const std::string_view piece = pieces[data[i + 2] % pieces.size()];
            positions.beforeInsert(at.byte, static_cast<long>(piece.size()));
            bytes.text.insert(static_cast<std::size_t>(at.byte), piece);
        } else {
            const Place end = places[std::min(places.size() - 1, data[i] % places.size() + data[i + 2] % 5)];
            positions.beforeDelete(at.byte, end.byte - at.byte);
            bytes.text.erase(static_cast<std::size_t>(at.byte), static_cast<std::size_t>(end.byte - at.byte));
        }
        places = placesIn(bytes.text);
        CHECK(positions.length() == places.back().unit);
        const Place probe = places[data[i + 1] % places.size()];
        CHECK(positions.toChar(probe.byte) == probe.unit);
        // CR LF, a lone CR and a lone LF are one break each; a probe
        // between the CR and LF of a pair has passed its break.
        std::ptrdiff_t breaks = 0;
        for (long j = 0; j < probe.byte; ++j) {
            const char c = bytes.text[static_cast<std::size_t>(j)];
            breaks +=
                c == '\r' || (c == '\n' && (j == 0 || bytes.text[static_cast<std::size_t>(j) - 1] != '\r'));
        }
        CHECK(positions.breaksBefore(probe.byte) == breaks);
    }
    return 0;
}
