#include "failurereason.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace kesto {

namespace systemError {
#ifdef Q_OS_WIN
const int badName = ERROR_INVALID_NAME;
const int isDirectory = 336; // ERROR_DIRECTORY_NOT_SUPPORTED, which MinGW's headers lack
const int tooLarge = ERROR_FILE_TOO_LARGE;
const int readFailed = ERROR_READ_FAULT;
const int nameTooLong = ERROR_FILENAME_EXCED_RANGE;
#else
const int badName = EINVAL;
const int isDirectory = EISDIR;
const int tooLarge = EFBIG;
const int readFailed = EIO;
const int nameTooLong = ENAMETOOLONG;
#endif
} // namespace systemError

int lastSystemError()
{
#ifdef Q_OS_WIN
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

void clearSystemError()
{
#ifdef Q_OS_WIN
    SetLastError(0);
#else
    errno = 0;
#endif
}

namespace {

QString systemText(int error)
{
    return error != 0 ? qt_error_string(error) : QStringLiteral("nieznana przyczyna");
}

// What the path names now explains many failures, whatever the error was.
QString fromState(const QString &path, int error, bool saving)
{
    const QFileInfo info(path);
    if (path.isEmpty() || path.contains(QChar(0)))
        return systemText(systemError::badName);
#ifdef Q_OS_WIN
    // A name takes 255 UTF-16 units; what the system says past that differs
    // from one file system to another (Wine's: "not found").
    if (info.fileName().size() > 255)
        return systemText(systemError::nameTooLong);
#endif
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("brak katalogu");
    if (info.isDir())
        return systemText(systemError::isDirectory);
    if (info.exists() && !info.isFile())
        return QStringLiteral("to nie jest zwykły plik");
#ifdef Q_OS_UNIX
    if (saving) {
        const QByteArray native = QFile::encodeName(info.exists() ? path : info.absolutePath());
        struct statvfs fs {};
        if (::statvfs(native.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0)
            return QStringLiteral("nośnik tylko do odczytu");
        struct stat st {};
        // No write bit, or immutable (which refuses even root).
        if (info.exists() && ::stat(native.constData(), &st) == 0 &&
            ((st.st_mode & 0222) == 0 ||
             (::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0 && errno == EPERM)))
            return QStringLiteral("plik tylko do odczytu");
    }
#endif
#ifdef Q_OS_WIN
    if (saving && info.exists() &&
        (GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16())) & FILE_ATTRIBUTE_READONLY) != 0)
        return QStringLiteral("plik tylko do odczytu");
#endif
    Q_UNUSED(error);
    return {};
}

QString reason(const QString &path, int error, bool saving)
{
#ifdef Q_OS_UNIX
    switch (error) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("brak miejsca na dysku");
    case EFBIG:
    case EOVERFLOW: return QStringLiteral("plik jest za duży");
    case EROFS: return QStringLiteral("nośnik tylko do odczytu");
    default: break;
    }
#endif
#ifdef Q_OS_WIN
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return QStringLiteral("brak miejsca na dysku");
    case ERROR_FILE_TOO_LARGE: return QStringLiteral("plik jest za duży");
    case ERROR_WRITE_PROTECT: return QStringLiteral("nośnik tylko do odczytu");
    default: break;
    }
#endif
    if (QString known = fromState(path, error, saving); !known.isEmpty())
        return known;
#ifdef Q_OS_UNIX
    if (error == EACCES || error == EPERM)
        return QStringLiteral("brak uprawnień");
#endif
#ifdef Q_OS_WIN
    if (error == ERROR_ACCESS_DENIED)
        return QStringLiteral("brak uprawnień");
#endif
    return systemText(error);
}

} // namespace

QString whyNotOpened(const QString &path, int error) { return reason(path, error, false); }

QString whyNotSaved(const QString &path, int error) { return reason(path, error, true); }

} // namespace kesto
