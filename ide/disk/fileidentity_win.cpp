// A file's identity on Windows: the volume's serial number, the file index
// and the times of a handle opened for its attributes only.

#include "fileidentity.h"

#include "fileio_win.h"

#include <QString>

#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros

namespace kesto {

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

} // namespace kesto
