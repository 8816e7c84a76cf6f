#include "modzapisz.h"

#include "chunkpipeline.h"
#include "codepage.h"
#include "disk/filewriter.h"
#include "disk/ownsaves.h"
#include "documentstate.h"
#include "failurereason.h"
#include "platform/platform.h"
#include "platform/sourceeditor.h"
#include "textpositions.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace kesto::modZapisz {
namespace {

// Encodes the text a chunk at a time into one small buffer and hands each
// chunk to `sink`: a large text never needs a second copy of itself in
// memory, and freshly allocated memory is what a save of many megabytes
// spends most of its time on. Chunks end on character boundaries, so the
// result is the same as encoding the whole text at once. Returns false as
// soon as the sink does.
bool encodeInChunks(std::string_view utf8, std::string_view lineBreak, Encoded &info,
                    const std::function<bool(std::string_view)> &sink)
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
        info.firstUnmappableLine = 1 + countBreaks(utf8.substr(0, total.firstUnmappableAt));
    }
    // A text that ends in a line break of its own gets none added, so that
    // open-then-save gives back the same file.
    if (last != '\r' && last != '\n')
        return sink(lineBreak);
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
    // Enter keeps the text unsaved: losing characters takes a deliberate OK.
    return platform.messageBox(parent, question, kesto::Buttons::OkCancel, kesto::Icon::Exclamation,
                               kesto::questionTitle, kesto::Button::Cancel) == kesto::Button::Ok;
}

} // namespace

Encoded encodeSourceText(std::string_view utf8, std::string_view lineBreak)
{
    Encoded e;
    e.bytes.reserve(utf8.size() + 2);
    encodeInChunks(utf8, lineBreak, e, [&e](std::string_view chunk) {
        e.bytes.append(chunk);
        return true;
    });
    return e;
}

bool SaveSourceFile(const QString &path, const SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent, FileIdentity *written, QString *failure)
{
    // The text is encoded straight into the file being written (twice when
    // the file is rewritten in place: once to measure it). Characters the
    // code page cannot hold are asked about before the file is touched, so
    // Cancel leaves everything as it was. On their way to the file the
    // bytes are looked at as Open will look at them.
    Encoded encoded;
    codepage::SourceScanner look;
    WriteOptions options;
    options.confirm = [&] {
        if (encoded.unmappable != 0 && !askToSaveUnmappable(encoded, platform, parent))
            return false;
        // Bytes the rule would misread go into the record of own saves,
        // before the file changes: a record of a save that then fails names
        // bytes nobody has. Only these few saves pay for the hash, taken
        // over the text encoded once more. A record that cannot be written
        // costs only this file's reading by the rule.
        if (!look.readsAsCp1250()) {
            FingerprintTaker print;
            Encoded again;
            encodeInChunks(editor.utf8(), editor.lineBreak(), again, [&print](std::string_view bytes) {
                print.add(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
                return true;
            });
            OwnSaves().remember(print.result());
        }
        return true;
    };
    const WriteResult result = writeFile(
        path,
        [&](const ByteSink &sink) {
            look = {};
            return encodeInChunks(editor.utf8(), editor.lineBreak(), encoded, [&](std::string_view bytes) {
                look.feed(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
                return sink(bytes);
            });
        },
        options);
    if (result.status == WriteStatus::Failed) {
        const QString text =
            result.backupKept.isEmpty()
                ? QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa.")
                : QStringLiteral(
                      "Nie można zapisać pliku, a jego poprzedniej treści nie udało się przywrócić. "
                      "Jest ona zachowana w pliku: ") +
                      result.backupKept;
        platform.messageBox(parent, text, kesto::Buttons::Ok, kesto::Icon::None, kesto::appTitle);
        if (failure)
            *failure = whyNotSaved(path, result.error);
    }
    if (written && result.status == WriteStatus::Written)
        *written = result.written;
    return result.status == WriteStatus::Written;
}

} // namespace kesto::modZapisz
