// The writer on Windows: the new file takes the old one's place through
// ReplaceFileW (durablewrite_win.cpp), which hands on its attributes, ACL
// and streams.

#include "filewriter_p.h"

#include "fileio.h"
#include "fileio_win.h"
#include "inplacewrite.h"

#include <QFile>
#include <QFileInfo>

#include <qt_windows.h> // windows.h without the min and max macros

namespace kesto::writer {

using namespace fileio;

// A temporary still being written is open, and cannot be removed.
void removeUnlessHeld(const QString &path) { QFile::remove(path); }

namespace {

Replace replaceFile(const QString &target, bool existed, const ByteSource &source,
                    const WriteOptions &options, WriteResult &result)
{
    const QFileInfo info(target);
    removeStrayTemporaries(info.path(), info.fileName());
    DurableWrite temp(target);
    if (!temp.createFresh(info.path() + u'/' + temporaryPrefix(info.fileName()), false, false))
        return existed ? Replace::NotPossible : Replace::Failed;
    return writeAndPlace(temp, target, existed ? DurableWrite::Placing::Replace : DurableWrite::Placing::New,
                         source, options, result);
}

} // namespace

WriteResult writeFileHere(const QString &path, const ByteSource &source, const WriteOptions &options)
{
    WriteResult result;
    if (path.isEmpty() || path.contains(QChar(0)))
        return result;
    // Links are followed: the link stays and the file it names gets the text.
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const DWORD attributes = GetFileAttributesW(longPath(target).c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    // The read-only attribute is refused, as Windows refuses it to an
    // administrator too.
    if (existed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return result;
    DWORD links = 1;
    if (existed) {
        const HANDLE h = CreateFileW(longPath(target).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return result;
        BY_HANDLE_FILE_INFORMATION about{};
        // A device (NUL, COM1) is not saved over.
        const bool onDisk = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &about);
        CloseHandle(h);
        if (!onDisk)
            return result;
        links = about.nNumberOfLinks;
    }
    if (links == 1 && replaceIsOver(replaceFile(target, existed, source, options, result), result))
        return result;
    result.way = WriteWay::InPlace;
    QFile file;
    if (!openExisting(file, target))
        return result;
    return rewriteInPlace(file, target, source, options);
}

} // namespace kesto::writer
