#include "fileidentity.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#else
#include <QDateTime>
#include <QFileInfo>
#endif

namespace kesto {

#ifdef Q_OS_UNIX
namespace {

FileIdentity fromStat(const struct stat &st)
{
    FileIdentity id;
    id.exists = true;
    id.device = static_cast<quint64>(st.st_dev);
    id.inode = static_cast<quint64>(st.st_ino);
    id.size = static_cast<qint64>(st.st_size);
    // QFileInfo stops at milliseconds; two saves within one would look alike.
    id.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
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
#else
FileIdentity identityOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    FileIdentity id;
    id.exists = true;
    id.size = info.size();
    id.mtimeNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return id;
}

FileIdentity identityOfDescriptor(int) { return {}; }
#endif

} // namespace kesto
