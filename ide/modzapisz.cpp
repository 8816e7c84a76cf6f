#include "modzapisz.h"

#include "codepage.h"
#include "documentstate.h"
#include "platform/platform.h"
#include "platform/regularfile.h"
#include "platform/sourceeditor.h"

#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <thread>

namespace modZapisz {

Encoded encodeSourceText(std::string_view utf8)
{
    Encoded e;
    e.bytes.resize(utf8.size() + 2);
    codepage::EncodeResult r;
    std::size_t written = 0;
    // A large text is encoded in two halves at once, one per core. The split
    // moves forward past continuation bytes, so no character is cut in two.
    constexpr std::size_t parallelFrom = std::size_t(4) << 20;
    if (utf8.size() >= parallelFrom) {
        std::size_t split = utf8.size() / 2;
        while (split < utf8.size() && (static_cast<unsigned char>(utf8[split]) & 0xC0) == 0x80)
            ++split;
        codepage::EncodeResult second;
        std::size_t secondWritten = 0;
        std::thread worker([&] {
            secondWritten = codepage::encodeUtf8AsCp1250(utf8.substr(split), e.bytes.data() + split, second);
        });
        written = codepage::encodeUtf8AsCp1250(utf8.substr(0, split), e.bytes.data(), r);
        worker.join();
        std::memmove(e.bytes.data() + written, e.bytes.data() + split, secondWritten);
        written += secondWritten;
        if (r.unmappable == 0 && second.unmappable > 0) {
            r.firstUnmappableAt = split + second.firstUnmappableAt;
            r.firstUnmappable = second.firstUnmappable;
        }
        r.unmappable += second.unmappable;
    } else {
        written = codepage::encodeUtf8AsCp1250(utf8, e.bytes.data(), r);
    }
    e.bytes.resize(written);
    e.unmappable = r.unmappable;
    if (r.unmappable) {
        e.firstUnmappable = r.firstUnmappable;
        const auto before = utf8.substr(0, r.firstUnmappableAt);
        e.firstUnmappableLine = 1 + std::count(before.begin(), before.end(), '\r');
    }
    if (e.bytes.empty() || (e.bytes.back() != '\r' && e.bytes.back() != '\n'))
        e.bytes += "\r\n";
    return e;
}

bool writeFileAtomically(const QString &path, std::string_view bytes)
{
    // The new file is renamed over the old one, so a FIFO or a device (as
    // root even /dev/null) would be replaced by a plain file: refuse them.
    const kesto::SaveTarget target = kesto::inspectSaveTarget(path);
    if (target.exists && !target.regular)
        return false;
    // QSaveFile follows a symbolic link: the link stays, its target gets the text.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto size = static_cast<qint64>(bytes.size());
    // A short text stays in QSaveFile's buffer until commit(), which (Qt 6.4)
    // ignores a failure to flush it: on a full disk it would put an empty file
    // in place of the old one and report success. Flush and check first.
    if (file.write(bytes.data(), size) != size || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

namespace {

QString describe(char32_t c)
{
    const QString hex = QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(4, u'0');
    const char32_t ucs[] = {c, 0};
    const bool printable = c >= 0x20 && c != 0xFFFD && !(c >= 0x7F && c < 0xA0);
    return printable ? QStringLiteral("„%1” (U+%2)").arg(QString::fromUcs4(ucs), hex)
                     : QStringLiteral("U+%1").arg(hex);
}

} // namespace

bool SaveSourceFile(const QString &path, const SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent)
{
    const Encoded encoded = encodeSourceText(editor.utf8());
    if (encoded.unmappable > 0) {
        const QString what =
            encoded.unmappable == 1
                ? QStringLiteral("znak %1 w linii %2 zostanie zapisany jako „?”.")
                      .arg(describe(encoded.firstUnmappable))
                      .arg(encoded.firstUnmappableLine)
                : QStringLiteral("znak %1 w linii %2 i pozostałe takie znaki (razem %3) zostaną "
                                 "zapisane jako „?”.")
                      .arg(describe(encoded.firstUnmappable))
                      .arg(encoded.firstUnmappableLine)
                      .arg(encoded.unmappable);
        const QString question =
            QStringLiteral("Tekstu nie można w całości zapisać w kodowaniu Windows-1250: ") + what +
            QStringLiteral("\r\r\nCzy mimo to zapisać plik?");
        if (platform.messageBox(parent, question, kesto::Buttons::OkCancel, kesto::Icon::Exclamation,
                                kesto::questionTitle) != kesto::Button::Ok)
            return false;
    }
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
    if (!writeFileAtomically(path, encoded.bytes)) {
        platform.messageBox(parent,
                            QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa."),
                            kesto::Buttons::Ok, kesto::Icon::None, kesto::appTitle);
        return false;
    }
    return true;
}

} // namespace modZapisz
