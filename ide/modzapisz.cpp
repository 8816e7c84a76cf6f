#include "modzapisz.h"

#include "chunkpipeline.h"
#include "codepage.h"
#include "documentstate.h"
#include "platform/platform.h"
#include "platform/regularfile.h"
#include "platform/sourceeditor.h"

#include <QSaveFile>

#include <algorithm>
#include <functional>
#include <memory>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

namespace kesto::modZapisz {
namespace {

// Encodes the text a chunk at a time into one small buffer and hands each
// chunk to `sink`: a large text never needs a second copy of itself in
// memory, and freshly allocated memory is what a save of many megabytes
// spends most of its time on. Chunks end on character boundaries, so the
// result is the same as encoding the whole text at once. Returns false as
// soon as the sink does.
bool encodeInChunks(std::string_view utf8, Encoded &info, const std::function<bool(std::string_view)> &sink)
{
    const auto buffer = std::make_unique_for_overwrite<char[]>(chunkBytes + 4);
    codepage::EncodeResult total;
    char last = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t end = std::min(utf8.size(), at + chunkBytes);
        // At most three continuation bytes belong to a character; a longer
        // run is malformed byte by byte and may be cut anywhere, and the
        // buffer has room for no more.
        for (int k = 0; k < 3 && end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80;
             ++k)
            ++end;
        codepage::EncodeResult r;
        const std::size_t n = codepage::encodeUtf8AsCp1250(utf8.substr(at, end - at), buffer.get(), r);
        if (r.unmappable > 0 && total.unmappable == 0) {
            total.firstUnmappableAt = at + r.firstUnmappableAt;
            total.firstUnmappable = r.firstUnmappable;
        }
        total.unmappable += r.unmappable;
        if (n > 0) {
            last = buffer[n - 1];
            if (!sink({buffer.get(), n}))
                return false;
        }
        at = end;
    }
    info.unmappable = total.unmappable;
    if (total.unmappable > 0) {
        info.firstUnmappable = total.firstUnmappable;
        const auto before = utf8.substr(0, total.firstUnmappableAt);
        info.firstUnmappableLine = 1 + std::count(before.begin(), before.end(), '\r');
    }
    // A text that ends in a line break of its own gets none added, so that
    // open-then-save gives back the same file.
    if (last != '\r' && last != '\n')
        return sink("\r\n");
    return true;
}

enum class Outcome { Written, Failed, Cancelled };

// Writes what `fill` produces into a temporary file beside `path`, asks
// `confirm` (when given) and only then puts the file in the target's place.
// On failure or cancel the old file stays as it was.
Outcome writeAtomically(const QString &path, const std::function<bool(QSaveFile &)> &fill,
                        const std::function<bool()> &confirm = {})
{
    // The new file is renamed over the old one, so a FIFO or a device (as
    // root even /dev/null) would be replaced by a plain file: refuse them.
    const kesto::SaveTarget target = kesto::inspectSaveTarget(path);
    if (target.exists && !target.regular)
        return Outcome::Failed;
    // QSaveFile follows a symbolic link: the link stays, its target gets the text.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Outcome::Failed;
    // A short text stays in QSaveFile's buffer until commit(), which (Qt 6.4)
    // ignores a failure to flush it: on a full disk it would put an empty file
    // in place of the old one and report success. Flush and check first.
    if (!fill(file) || !file.flush()) {
        file.cancelWriting();
        return Outcome::Failed;
    }
    if (confirm && !confirm()) {
        file.cancelWriting();
        return Outcome::Cancelled;
    }
    return file.commit() ? Outcome::Written : Outcome::Failed;
}

// Writes the bytes and, on Linux, sends a large piece on its way to the disk
// at once: commit() syncs the file before renaming it, and then has little
// left to wait for (a 50 MB save takes a third less time).
bool writeAll(QSaveFile &file, std::string_view bytes)
{
    const qint64 offset = file.pos();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size)
        return false;
#ifdef Q_OS_LINUX
    if (size >= qint64(chunkBytes / 2) && file.flush())
        ::sync_file_range(file.handle(), offset, size, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(offset);
#endif
    return true;
}

QString describe(char32_t c)
{
    const QString hex = QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
    const char32_t ucs[] = {c, 0};
    const bool printable = c >= 0x20 && c != 0xFFFD && !(c >= 0x7F && c < 0xA0);
    return printable ? QStringLiteral("„%1” (U+%2)").arg(QString::fromUcs4(ucs), hex)
                     : QStringLiteral("U+%1").arg(hex);
}

bool askToSaveUnmappable(const Encoded &encoded, kesto::Platform &platform, QWidget *parent)
{
    const QString what = encoded.unmappable == 1
                             ? QStringLiteral("znak %1 w linii %2 zostanie zapisany jako „?”.")
                                   .arg(describe(encoded.firstUnmappable))
                                   .arg(encoded.firstUnmappableLine)
                             : QStringLiteral("znak %1 w linii %2 i pozostałe takie znaki (razem %3) zostaną "
                                              "zapisane jako „?”.")
                                   .arg(describe(encoded.firstUnmappable))
                                   .arg(encoded.firstUnmappableLine)
                                   .arg(encoded.unmappable);
    const QString question = QStringLiteral("Tekstu nie można w całości zapisać w kodowaniu Windows-1250: ") +
                             what + QStringLiteral("\r\r\nCzy mimo to zapisać plik?");
    return platform.messageBox(parent, question, kesto::Buttons::OkCancel, kesto::Icon::Exclamation,
                               kesto::questionTitle) == kesto::Button::Ok;
}

} // namespace

Encoded encodeSourceText(std::string_view utf8)
{
    Encoded e;
    e.bytes.reserve(utf8.size() + 2);
    encodeInChunks(utf8, e, [&e](std::string_view chunk) {
        e.bytes.append(chunk);
        return true;
    });
    return e;
}

bool writeFileAtomically(const QString &path, std::string_view bytes)
{
    return writeAtomically(path, [bytes](QSaveFile &file) { return writeAll(file, bytes); }) ==
           Outcome::Written;
}

bool SaveSourceFile(const QString &path, const SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent)
{
    // A file with several hard links cannot be replaced atomically and stay
    // linked: the save makes a new file under this name, and the other names
    // keep the old text. Writing in place would keep the link but could leave
    // a half-written file behind, so the save stays atomic and the user is told.
    if (const kesto::SaveTarget t = kesto::inspectSaveTarget(path); t.regular && t.links > 1) {
        const QString question =
            QStringLiteral("Plik %1 ma też inne nazwy (dowiązania twarde). Zapis utworzy go na nowo, "
                           "a pod pozostałymi nazwami zostanie dotychczasowa treść.")
                .arg(path) +
            QStringLiteral("\r\r\nCzy mimo to zapisać plik?");
        if (platform.messageBox(parent, question, kesto::Buttons::OkCancel, kesto::Icon::Exclamation,
                                kesto::questionTitle) != kesto::Button::Ok)
            return false;
    }
    // The text is encoded straight into the temporary file. Characters the
    // code page cannot hold are asked about before that file takes the
    // target's place, so Cancel leaves everything as it was.
    Encoded encoded;
    const Outcome outcome = writeAtomically(
        path,
        [&](QSaveFile &file) {
            return encodeInChunks(editor.utf8(), encoded,
                                  [&file](std::string_view chunk) { return writeAll(file, chunk); });
        },
        [&] { return encoded.unmappable == 0 || askToSaveUnmappable(encoded, platform, parent); });
    if (outcome == Outcome::Failed) {
        platform.messageBox(
            parent, QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa."),
            kesto::Buttons::Ok, kesto::Icon::None, kesto::appTitle);
    }
    return outcome == Outcome::Written;
}

} // namespace kesto::modZapisz
