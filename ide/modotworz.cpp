#include "modotworz.h"

#include "codepage.h"
#include "documentstate.h"
#include "platform/platform.h"
#include "platform/regularfile.h"
#include "platform/sourceeditor.h"

#include <QFile>

#include <vector>

namespace modOtworz {

ReadResult readSourceFile(const QString &path)
{
    ReadResult result;
    QFile file(path);
    if (!kesto::openRegularFileForReading(file))
        return result;
    const qint64 size = file.size();
    if (size > maxSourceFileSize)
        return result;

    // Decode chunk by chunk straight into UTF-8: no second copy of the raw bytes.
    // Most source bytes are ASCII, so the text is about as long as the file.
    result.utf8.reserve(static_cast<std::size_t>(size + size / 16));
    std::vector<unsigned char> chunk(std::size_t(1) << 20);
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(reinterpret_cast<char *>(chunk.data()),
                                     static_cast<qint64>(chunk.size()));
        if (got < 0)
            return {};
        if (got == 0)
            break;
        total += got;
        if (total > maxSourceFileSize) // the file grew while being read
            return {};
        codepage::appendSourceAsUtf8(chunk.data(), static_cast<std::size_t>(got), result.utf8);
    }
    result.ok = true;
    return result;
}

bool LoadSourceFile(const QString &path, SourceEditor &editor, kesto::Platform &platform,
                    QWidget *parent)
{
    ReadResult read = readSourceFile(path);
    if (!read.ok) {
        platform.messageBox(parent, QStringLiteral("Nie można otworzyć pliku: ") + path,
                            kesto::Buttons::Ok, kesto::Icon::None, kesto::appTitle);
        return false;
    }
    editor.setUtf8Text(read.utf8);
    return true;
}

} // namespace modOtworz
