// Why an open or save failed, in errno's terms and from what stat() and
// statvfs() tell.

#include "failurereason.h"
#include "failurereason_p.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kesto {

namespace systemError {
const int badName = EINVAL;
const int isDirectory = EISDIR;
const int tooLarge = EFBIG;
const int readFailed = EIO;
const int nameTooLong = ENAMETOOLONG;
} // namespace systemError

int lastSystemError() { return errno; }

void clearSystemError() { errno = 0; }

namespace failure {

QString fromError(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT: return QStringLiteral("brak miejsca na dysku");
    case EFBIG:
    case EOVERFLOW: return QStringLiteral("plik jest za duży");
    case EROFS: return QStringLiteral("nośnik tylko do odczytu");
    default: return {};
    }
}

// The system's own word on a long name is clear enough.
QString fromName(const QFileInfo &) { return {}; }

QString fromWriteState(const QString &path, const QFileInfo &info)
{
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
    return {};
}

bool deniesAccess(int error) { return error == EACCES || error == EPERM; }

} // namespace failure

} // namespace kesto
