// A file's identity on Unix: stat(), to the nanosecond.

#include "fileidentity.h"

#include <QFile>

#include <sys/stat.h>

namespace kesto {

namespace {

qint64 nanoseconds(const struct timespec &t)
{
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileIdentity fromStat(const struct stat &st)
{
    FileIdentity id;
    id.exists = true;
    id.device = static_cast<quint64>(st.st_dev);
    id.inode = static_cast<quint64>(st.st_ino);
    id.size = static_cast<qint64>(st.st_size);
    // QFileInfo stops at milliseconds; two saves within one would look alike.
    id.mtimeNs = nanoseconds(st.st_mtim);
    id.ctimeNs = nanoseconds(st.st_ctim);
    return id;
}

} // namespace

FileIdentity identityOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (name.isEmpty() || name.contains('\0') || ::stat(name.constData(), &st) != 0)
        return {};
    return fromStat(st);
}

FileIdentity identityOfDescriptor(int fd)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return {};
    return fromStat(st);
}

} // namespace kesto
