#include "modotworz.h"

#include "chunkpipeline.h"
#include "disk/fileidentity.h"
#include "disk/ownsaves.h"
#include "disk/regularfile.h"
#include "documentstate.h"
#include "failurereason.h"
#include "platform/platform.h"
#include "platform/sourceeditor.h"

#include <QFile>

#include <functional>
#include <mutex>
#include <vector>

namespace kesto::modOtworz {
namespace {

using codepage::SourceEncoding;
using codepage::SourceScanner;

// How much of a file's start is looked at before it is read: NUL bytes
// there make it look like no text, and its letters tell how long its text
// will be.
constexpr qint64 headBytes = qint64(64) << 10;

void decodeChunk(const unsigned char *raw, std::size_t n, SourceEncoding encoding, TextChunk &out)
{
    out.utf8.clear();
    codepage::appendSourceAsUtf8(raw, n, out.utf8, encoding);
    out.utf16Units =
        encoding == SourceEncoding::Utf8 ? countText(out.utf8).utf16Units : static_cast<qsizetype>(n);
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

// Reads the file from where it stands to its end, a chunk at a time, into
// `take`. False on a read error (`error` gets its number), a file grown past
// the limit while being read (systemError::tooLarge), or when `take` says stop.
bool readChunks(QFile &file, std::vector<unsigned char> &raw,
                const std::function<bool(const unsigned char *, std::size_t)> &take, int &error)
{
    qint64 total = file.pos();
    for (;;) {
        clearSystemError();
        const qint64 got = file.read(reinterpret_cast<char *>(raw.data()), static_cast<qint64>(raw.size()));
        if (got < 0) {
            error = lastSystemError() != 0 ? lastSystemError() : systemError::readFailed;
            return false;
        }
        total += got;
        if (total > maxSourceFileSize) {
            error = systemError::tooLarge;
            return false;
        }
        if (got == 0)
            return true;
        if (!take(raw.data(), static_cast<std::size_t>(got)))
            return false;
    }
}

// Looks at the whole file, then reads it again from its start and hands out
// its text chunk by chunk through `push`, decoded as the first look decided
// (told through `report`); the first chunk carries the text's whole size.
// A file that matches one of `ownSaves` (the program's saves of its size)
// is read as the plain Windows-1250 it was written in.
bool readDecoded(QFile &file, const ChunkPipeline<TextChunk>::Push &push, LoadReport &report, int &error,
                 const QList<Fingerprint> &ownSaves = {}, SpareBuffers *spares = nullptr)
{
    std::vector<unsigned char> raw(chunkBytes);
    SourceScanner scanner;
    FingerprintTaker print;
    if (!readChunks(
            file, raw,
            [&](const unsigned char *p, std::size_t n) {
                scanner.feed(p, n);
                if (!ownSaves.isEmpty())
                    print.add(p, n);
                return true;
            },
            error))
        return false;
    report.ownSave = !ownSaves.isEmpty() && ownSaves.contains(print.result());
    report.counts = scanner.counts();
    const SourceEncoding encoding = report.encoding =
        report.ownSave ? SourceEncoding::Cp1250 : scanner.encoding();
    // A UTF-8 file's byte-order mark is no part of its text.
    const bool skipMark = encoding == SourceEncoding::Utf8 && scanner.startsWithByteOrderMark();
    if (!file.seek(skipMark ? 3 : 0)) {
        error = systemError::readFailed;
        return false;
    }
    std::size_t whole = scanner.utf8Size(encoding);
    return readChunks(
        file, raw,
        [&](const unsigned char *p, std::size_t n) {
            TextChunk chunk;
            if (spares)
                chunk.utf8 = spares->take();
            decodeChunk(p, n, encoding, chunk);
            chunk.wholeText = std::exchange(whole, 0);
            return push(std::move(chunk));
        },
        error);
}

// Opens the file for reading; else `error` says why (0 when what the path
// names is no regular file).
bool openSource(QFile &file, int &error)
{
    clearSystemError();
    if (!openRegularFileForReading(file)) {
        error = lastSystemError();
        return false;
    }
    if (file.size() > maxSourceFileSize) {
        error = systemError::tooLarge;
        return false;
    }
    return true;
}

// UTF-8 bytes to expect for a file of `size` bytes from a look at its start:
// no more than a little over them in the end, which is not known yet. A
// guess too small would have the editor grow its buffer, too large would
// waste memory; either way the first chunk corrects it.
std::size_t expectedUtf8(const SourceScanner &start, qint64 size)
{
    const auto n = static_cast<std::size_t>(size);
    const std::size_t seen = start.bytesSeen();
    if (seen >= n)
        return start.utf8Size();
    // The extra bytes per byte of the start, in 1/1024ths, carried over to the whole.
    const std::size_t extraIn1024 = (start.utf8Size() - seen) * 1024 / seen;
    return (start.looksLikeUtf8() ? n : n + n / 1024 * extraIn1024) + n / 64;
}

} // namespace

ReadResult readSourceFile(const QString &path)
{
    ReadResult result;
    QFile file(path);
    int error = 0;
    if (!openSource(file, error))
        return result;
    LoadReport report;
    result.ok = readDecoded(
        file,
        [&result](TextChunk &&chunk) {
            result.utf8 += chunk.utf8;
            return true;
        },
        report, error);
    result.encoding = report.encoding;
    if (!result.ok)
        result.utf8.clear();
    return result;
}

bool LoadSourceFile(const QString &path, SourceEditor &editor, Platform &platform, QWidget *parent,
                    FileIdentity *identity, LoadReport *report)
{
    LoadReport ignored;
    LoadReport &told = report ? *report : ignored;
    told = {};
    QFile file(path);
    int error = 0;
    bool loaded = openSource(file, error);
    if (loaded && identity) {
        // Taken before reading: a change made while the file is read then
        // counts as a change made by another program.
        *identity = identityOfDescriptor(file.handle());
        if (!identity->exists)
            *identity = identityOf(path);
    }
    SourceScanner start;
    if (loaded) {
        clearSystemError();
        const QByteArray head = file.read(headBytes);
        if (file.error() != QFileDevice::NoError || !file.seek(0)) {
            error = lastSystemError() != 0 ? lastSystemError() : systemError::readFailed;
            loaded = false;
        } else if (head.contains('\0') &&
                   platform.messageBox(parent,
                                       QStringLiteral("Plik \"") + path +
                                           QStringLiteral("\" nie wygląda na tekst (zawiera znaki NUL). "
                                                          "Otworzyć go mimo to?"),
                                       Buttons::OkCancel, Icon::Exclamation, questionTitle,
                                       Button::Cancel) != Button::Ok) {
            told.declined = true;
            return false;
        }
        start.feed(reinterpret_cast<const unsigned char *>(head.constData()),
                   static_cast<std::size_t>(head.size()));
    }
    if (loaded) {
        const std::size_t guess = expectedUtf8(start, file.size());
        // The file belongs to the reader thread from the moment it starts.
        // While it looks at the whole file, the editor makes its buffer.
        SpareBuffers spares;
        // Only a file of the size of a recorded save needs its hash.
        QList<Fingerprint> ownSaves = OwnSaves().saves();
        ownSaves.removeIf(
            [size = std::uint64_t(file.size())](const Fingerprint &p) { return p.size != size; });
        ChunkPipeline<TextChunk> reader([&file, &spares, &told, &error, &ownSaves](const auto &push) {
            return readDecoded(file, push, told, error, ownSaves, &spares);
        });
        loaded = editor.replaceText(
            [&reader, &spares](TextChunk &chunk) {
                spares.give(std::move(chunk.utf8));
                return reader.next(chunk);
            },
            guess);
    }
    if (!loaded) {
        told.failure = whyNotOpened(path, error);
        platform.messageBox(parent, QStringLiteral("Nie można otworzyć pliku: ") + path, Buttons::Ok,
                            Icon::None, appTitle);
        return false;
    }
    return true;
}

QString readingNote(const LoadReport &report)
{
    const auto count = [](std::size_t n) { return QString::number(n); };
    const std::size_t windows = report.counts.windowsLetters, dos = report.counts.dosLetters;
    switch (report.encoding) {
    case SourceEncoding::Utf8: return QStringLiteral(" (UTF-8; zostanie zapisany w Windows-1250)");
    case SourceEncoding::Cp1250:
        if (report.ownSave)
            return QStringLiteral(" (Windows-1250; zapisany przez KESTO IDE)");
        if (dos > 0)
            return QStringLiteral(" (Windows-1250; litery Windows-1250: %1, DOS: %2)")
                .arg(count(windows), count(dos));
        return QStringLiteral(" (Windows-1250)");
    case SourceEncoding::Cp852Letters:
        if (windows > 0 && dos > 0)
            return QStringLiteral(" (strona kodowa 852; litery DOS: %1, Windows-1250: %2)")
                .arg(count(dos), count(windows));
        break;
    }
    return {};
}

} // namespace kesto::modOtworz
