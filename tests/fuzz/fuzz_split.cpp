// libFuzzer target for the save of a large text, which is encoded a
// megabyte at a time: the input, taken as editor text (UTF-8, valid or not),
// is put across the border between two of those chunks, and the result must
// match the plain one-pass encoding exactly.

#define FUZZ_TARGET "fuzz_split"
#include "fuzzcheck.h"

#include "chunkpipeline.h"
#include "codepage.h"
#include "modzapisz.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace kesto;

namespace {

// A text of a little over four chunks: its middle is a chunk border.
constexpr std::size_t splitFrom = 4 * chunkBytes;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view unit(reinterpret_cast<const char *>(data), size);
    // ASCII around the input: two chunks meet inside it, and the padding
    // itself is cheap to encode.
    const std::size_t total = splitFrom + 1 + (size % 7); // odd and even lengths
    const std::size_t before = total / 2 - std::min(size / 2, total / 2);
    std::string text(before, 'a');
    text += unit;
    text.resize(std::max(total, text.size()), 'b');

    std::string plain;
    const codepage::EncodeResult r = codepage::appendUtf8AsCp1250(text, plain);
    plain += "\r\n"; // the text ends in 'b', so the writer adds the line end
    const modZapisz::Encoded e = modZapisz::encodeSourceText(text);
    CHECK(e.bytes == plain);
    CHECK(e.unmappable == r.unmappable);
    if (r.unmappable) {
        CHECK(e.firstUnmappable == r.firstUnmappable);
        // Its line: one more than the breaks before it, CR LF, lone CR and lone LF alike.
        qsizetype line = 1;
        for (std::size_t i = 0; i < r.firstUnmappableAt; ++i)
            line += text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'));
        CHECK(e.firstUnmappableLine == line);
    }
    return 0;
}
