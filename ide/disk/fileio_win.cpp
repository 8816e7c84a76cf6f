// The small file operations on Windows: long paths, LockFileEx.

#include "fileio_win.h"
#include "fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros

namespace kesto::fileio {

// NTFS counts a name in UTF-16 units.
qsizetype nameUnits(const QString &piece) { return piece.size(); }

std::wstring longPath(const QString &path)
{
    QString p = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (!p.startsWith(QStringLiteral("\\\\?\\")))
        p = p.startsWith(QStringLiteral("\\\\")) ? QStringLiteral("\\\\?\\UNC\\") + p.mid(2)
                                                 : QStringLiteral("\\\\?\\") + p;
    return p.toStdWString();
}

bool openExisting(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered);
}

// The cache manager writes behind on its own.
void startWriteback(int, qint64, qint64) {}

bool lockFile(QFile &file)
{
    OVERLAPPED whole{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
}

// Not asked on Windows, where the repair has always taken the locked file
// for the one of that name.
bool stillNamed(const QFile &) { return true; }

// The lock is a QLockFile here, kept open: it needs no sign of life.
void touchLock(int) {}

// Windows keeps a file's attributes when it is written.
KeptMode::KeptMode(const QFile &) {}
void KeptMode::restore() const {}

} // namespace kesto::fileio
