#include "recoverycopy.h"

#include "regularfile.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>

namespace kesto::recovery {
namespace {

constexpr char magic[8] = {'K', 'E', 'S', 'T', 'O', 'R', 'E', 'C'};
constexpr std::size_t checksumAt = 68;
constexpr std::size_t version1HeaderSize = 72;
constexpr std::uint32_t untitledFlag = 1;
constexpr std::uint32_t identityFlag = 2;

// Eight tables, so that the checksum takes eight bytes a step: a 50 MB copy
// is summed in a few tens of milliseconds, on the worker and at start alike.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables makeCrcTables()
{
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t i = 0; i < 256; ++i)
        for (std::size_t k = 1; k < 8; ++k)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr CrcTables crcTables = makeCrcTables();

std::uint32_t load32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint64_t load64(const unsigned char *p) { return load32(p) | std::uint64_t(load32(p + 4)) << 32; }

void put32(std::string &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void put64(std::string &out, std::uint64_t v)
{
    put32(out, static_cast<std::uint32_t>(v));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

} // namespace

std::uint32_t crc32(std::uint32_t crc, const void *data, std::size_t size)
{
    const auto &t = crcTables;
    const auto *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
    for (; size >= 8; p += 8, size -= 8) {
        const std::uint32_t a = crc ^ load32(p);
        const std::uint32_t b = load32(p + 4);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][(b >> 8) & 0xFF] ^ t[1][(b >> 16) & 0xFF] ^ t[0][b >> 24];
    }
    for (; size > 0; ++p, --size)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string encodeHead(const Copy &copy, std::string_view text)
{
    std::string head(magic, sizeof magic);
    head.reserve(headerSize + copy.path.size());
    put32(head, formatVersion);
    put32(head, (copy.untitled ? untitledFlag : 0) | (copy.identity.exists ? identityFlag : 0));
    put64(head, copy.identity.device);
    put64(head, copy.identity.inode);
    put64(head, static_cast<std::uint64_t>(copy.identity.size));
    put64(head, static_cast<std::uint64_t>(copy.identity.mtimeNs));
    put64(head, static_cast<std::uint64_t>(copy.writtenMs));
    put32(head, static_cast<std::uint32_t>(copy.path.size()));
    put64(head, text.size());
    std::string ctime;
    put64(ctime, static_cast<std::uint64_t>(copy.identity.ctimeNs));
    std::uint32_t crc = crc32(0, head.data(), head.size());
    crc = crc32(crc, ctime.data(), ctime.size());
    crc = crc32(crc, copy.path.data(), copy.path.size());
    crc = crc32(crc, text.data(), text.size());
    put32(head, crc);
    head += ctime;
    head += copy.path;
    return head;
}

namespace {

// Checks the copy in `bytes` and fills in all of it but the text; `textAt`
// gets where the text starts.
ReadError check(std::string_view bytes, Copy &c, std::size_t &textAt)
{
    if (bytes.empty())
        return ReadError::Empty;
    // A header cut short is a truncated copy unless what there is of it
    // already says it is no copy of ours.
    if (std::memcmp(bytes.data(), magic, std::min(bytes.size(), sizeof magic)) != 0)
        return ReadError::Damaged;
    if (bytes.size() < version1HeaderSize)
        return ReadError::Truncated;
    const auto *h = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::uint32_t version = load32(h + 8);
    const std::uint32_t flags = load32(h + 12);
    const std::uint32_t pathBytes = load32(h + 56);
    const std::uint64_t textBytes = load64(h + 60);
    if ((version != formatVersion && version != 1) || (flags & ~(untitledFlag | identityFlag)) != 0 ||
        pathBytes > maxPathBytes || textBytes > maxTextBytes)
        return ReadError::Damaged;
    const std::size_t size = version == 1 ? version1HeaderSize : headerSize;
    const std::uint64_t whole = size + pathBytes + textBytes;
    if (bytes.size() != whole)
        return bytes.size() < whole ? ReadError::Truncated : ReadError::Damaged;
    std::uint32_t crc = crc32(0, h, checksumAt);
    crc = crc32(crc, h + version1HeaderSize, bytes.size() - version1HeaderSize);
    if (crc != load32(h + checksumAt))
        return ReadError::Damaged;
    c.untitled = flags & untitledFlag;
    c.identity = {};
    if (flags & identityFlag) {
        c.identity.exists = true;
        c.identity.device = load64(h + 16);
        c.identity.inode = load64(h + 24);
        c.identity.size = static_cast<qint64>(load64(h + 32));
        c.identity.mtimeNs = static_cast<qint64>(load64(h + 40));
        if (version != 1)
            c.identity.ctimeNs = static_cast<qint64>(load64(h + 72));
    }
    c.writtenMs = static_cast<std::int64_t>(load64(h + 48));
    c.path.assign(bytes.substr(size, pathBytes));
    textAt = size + pathBytes;
    return ReadError::None;
}

} // namespace

ReadResult decode(std::string_view bytes)
{
    ReadResult r;
    std::size_t textAt = 0;
    r.error = check(bytes, r.copy, textAt);
    if (r.error == ReadError::None)
        r.copy.text.assign(bytes.substr(textAt));
    return r;
}

ReadResult readFile(const QString &path)
{
    ReadResult r;
    QFile file(path);
    if (!openRegularFileForReading(file)) {
        // Told apart only for the record: every such copy is set aside alike.
        r.error = QFile::exists(path) ? ReadError::NotPlainFile : ReadError::Unreadable;
        return r;
    }
    const qint64 size = file.size();
    if (static_cast<std::uint64_t>(size) > headerSize + maxPathBytes + maxTextBytes) {
        r.error = ReadError::TooLarge;
        return r;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const qint64 got = size > 0 ? file.read(bytes.data(), size) : 0;
    if (got != size || !file.atEnd()) {
        r.error = ReadError::Unreadable;
        return r;
    }
    std::size_t textAt = 0;
    r.error = check(bytes, r.copy, textAt);
    if (r.error == ReadError::None) {
        // The text stays where it was read: a large copy is never held twice.
        bytes.erase(0, textAt);
        r.copy.text = std::move(bytes);
    }
    return r;
}

} // namespace kesto::recovery
