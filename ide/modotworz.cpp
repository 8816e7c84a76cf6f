#include "modotworz.h"

#include "chunkpipeline.h"
#include "codepage.h"
#include "disk/fileidentity.h"
#include "disk/regularfile.h"
#include "documentstate.h"
#include "platform/platform.h"
#include "platform/sourceeditor.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace kesto::modOtworz {
namespace {

// Decodes raw source bytes into `out`, counting what the editor keeps count
// of: every byte is one UTF-16 unit, and an LF is lone when the byte before
// it (`previous`, carried over from the last chunk) is not a CR.
void decodeChunk(const unsigned char *raw, std::size_t n, unsigned char &previous, TextChunk &out)
{
    out.utf8.clear();
    codepage::appendSourceAsUtf8(raw, n, out.utf8);
    out.utf16Units = static_cast<qsizetype>(n);
    out.loneLf = 0;
    const unsigned char *p = raw;
    const unsigned char *end = raw + n;
    while (p < end) {
        const void *lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!lf)
            break;
        const auto *at = static_cast<const unsigned char *>(lf);
        const unsigned char before = at == raw ? previous : at[-1];
        out.loneLf += before != '\r';
        p = at + 1;
    }
    if (n > 0)
        previous = raw[n - 1];
}

// The buffers of decoded chunks the editor has taken in, for the reader to
// fill again. A chunk is a few megabytes: allocated afresh each time, its
// pages are faulted in anew (and unmapped again on the other thread), which
// in a real window costs more than decoding it.
class SpareBuffers {
public:
    void give(std::string &&buffer)
    {
        const std::lock_guard lock(m_mutex);
        if (buffer.capacity() > 0 && m_spare.size() < keep)
            m_spare.push_back(std::move(buffer));
    }
    std::string take()
    {
        const std::lock_guard lock(m_mutex);
        if (m_spare.empty())
            return {};
        std::string buffer = std::move(m_spare.back());
        m_spare.pop_back();
        return buffer;
    }

private:
    static constexpr std::size_t keep = 8;
    std::mutex m_mutex;
    std::vector<std::string> m_spare;
};

// Reads the file and decodes it chunk by chunk through `push`, into spare
// buffers where there are any.
bool readDecoded(QFile &file, const ChunkPipeline<TextChunk>::Push &push, SpareBuffers *spares = nullptr)
{
    std::vector<unsigned char> raw(chunkBytes);
    unsigned char previous = 0;
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(reinterpret_cast<char *>(raw.data()), static_cast<qint64>(raw.size()));
        total += std::max<qint64>(got, 0);
        // A read error, or a file that grew past the limit while being read.
        if (got < 0 || total > maxSourceFileSize)
            return false;
        if (got == 0)
            return true;
        TextChunk chunk;
        if (spares)
            chunk.utf8 = spares->take();
        decodeChunk(raw.data(), static_cast<std::size_t>(got), previous, chunk);
        if (!push(std::move(chunk)))
            return false;
    }
}

bool openSource(QFile &file) { return openRegularFileForReading(file) && file.size() <= maxSourceFileSize; }

// UTF-8 bytes to expect for a file of `size` bytes: Polish letters take two
// bytes, and a few per line is the rule.
std::size_t expectedUtf8(qint64 size) { return static_cast<std::size_t>(size + size / 8); }

} // namespace

ReadResult readSourceFile(const QString &path)
{
    ReadResult result;
    QFile file(path);
    if (!openSource(file))
        return result;
    result.utf8.reserve(expectedUtf8(file.size()));
    result.ok = readDecoded(file, [&result](TextChunk &&chunk) {
        result.utf8 += chunk.utf8;
        return true;
    });
    if (!result.ok)
        result.utf8.clear();
    return result;
}

bool LoadSourceFile(const QString &path, SourceEditor &editor, Platform &platform, QWidget *parent,
                    FileIdentity *identity)
{
    QFile file(path);
    bool loaded = openSource(file);
    if (loaded && identity) {
        // Taken before reading: a change made while the file is read then
        // counts as a change made by another program.
        *identity = identityOfDescriptor(file.handle());
        if (!identity->exists)
            *identity = identityOf(path);
    }
    if (loaded) {
        // The file belongs to the reader thread from the moment it starts.
        const std::size_t expected = expectedUtf8(file.size());
        // Reading and decoding run a few chunks ahead of the editor taking
        // them in; each chunk's buffer goes back once its text is in.
        SpareBuffers spares;
        ChunkPipeline<TextChunk> reader(
            [&file, &spares](const auto &push) { return readDecoded(file, push, &spares); });
        loaded = editor.replaceText(
            [&reader, &spares](TextChunk &chunk) {
                spares.give(std::move(chunk.utf8));
                return reader.next(chunk);
            },
            expected);
    }
    if (!loaded) {
        platform.messageBox(parent, QStringLiteral("Nie można otworzyć pliku: ") + path, Buttons::Ok,
                            Icon::None, appTitle);
        return false;
    }
    return true;
}

} // namespace kesto::modOtworz
