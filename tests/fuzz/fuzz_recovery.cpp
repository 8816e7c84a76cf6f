// libFuzzer target for the reader of recovery copies, which reads whatever a
// crash, a full disk or another program left in the program's folder. Any
// input read as a copy must be refused or give back exactly what it holds;
// and a copy made from the input, then cut short or with one byte changed as
// the input says, must be refused, never read as some other text.

#define FUZZ_TARGET "fuzz_recovery"
#include "fuzzcheck.h"

#include "disk/recoverycopy.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace kesto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);

    const recovery::ReadResult raw = recovery::decode(input);
    // A copy of the former format is read, then written in the current one.
    if (raw.error == recovery::ReadError::None && input[8] == char(recovery::formatVersion))
        CHECK(recovery::encodeHead(raw.copy, raw.copy.text) + raw.copy.text == input);

    // The input as a copy: the path up to the first NUL, the text after it;
    // the last two bytes say where to damage it.
    if (size < 2)
        return 0;
    const std::string_view body = input.substr(0, size - 2);
    const std::size_t nul = body.find('\0');
    recovery::Copy copy;
    copy.path = body.substr(0, nul);
    copy.text = nul == std::string_view::npos ? std::string() : std::string(body.substr(nul + 1));
    if (copy.path.size() > recovery::maxPathBytes)
        return 0;
    copy.untitled = size % 2;
    const auto n = static_cast<qint64>(size);
    copy.identity = {true, size, size * 7, n, n << 20, n << 21};
    copy.writtenMs = static_cast<std::int64_t>(size) * 1000;
    const std::string whole = recovery::encodeHead(copy, copy.text) + copy.text;

    const recovery::ReadResult read = recovery::decode(whole);
    CHECK(read.error == recovery::ReadError::None);
    CHECK(read.copy.text == copy.text && read.copy.path == copy.path && read.copy.untitled == copy.untitled &&
          read.copy.identity == copy.identity && read.copy.writtenMs == copy.writtenMs);

    const std::size_t at = (std::size_t(data[size - 2]) << 8 | data[size - 1]) % whole.size();
    CHECK_AT(recovery::decode(std::string_view(whole).substr(0, at)).error != recovery::ReadError::None, at);
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ (data[size - 1] | 1));
    CHECK_AT(recovery::decode(damaged).error != recovery::ReadError::None, at);
    return 0;
}
