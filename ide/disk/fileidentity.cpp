#include "fileidentity.h"

#include "fileio.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros
#endif

namespace kesto {

#ifdef Q_OS_UNIX
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
#endif

#ifdef Q_OS_WIN
namespace {

// From 100 ns since 1601 to ns since 1970.
qint64 nanoseconds(LARGE_INTEGER t) { return (t.QuadPart - 116444736000000000LL) * 100; }

FileIdentity fromHandle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION about{};
    FILE_BASIC_INFO times{};
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &about) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &times, sizeof times))
        return {};
    FileIdentity id;
    id.exists = true;
    id.device = about.dwVolumeSerialNumber;
    id.inode = quint64(about.nFileIndexHigh) << 32 | about.nFileIndexLow;
    id.size = static_cast<qint64>(quint64(about.nFileSizeHigh) << 32 | about.nFileSizeLow);
    id.mtimeNs = nanoseconds(times.LastWriteTime);
    id.ctimeNs = nanoseconds(times.ChangeTime);
    return id;
}

} // namespace

FileIdentity identityOf(const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return {};
    const std::wstring name = fileio::longPath(path);
    // Reading the attributes needs no right to the content, and shares the
    // file with whoever has it open.
    const HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    const FileIdentity id = fromHandle(h);
    CloseHandle(h);
    return id;
}

FileIdentity identityOfDescriptor(int fd)
{
    return fd < 0 ? FileIdentity{} : fromHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}
#endif

FileIdentity identityOfPlaced(const FileIdentity &atLastByte, const FileIdentity &placed)
{
    const bool same = placed.exists && placed.device == atLastByte.device &&
                      placed.inode == atLastByte.inode && placed.size == atLastByte.size &&
                      placed.mtimeNs == atLastByte.mtimeNs;
    return same ? placed : atLastByte;
}

} // namespace kesto
