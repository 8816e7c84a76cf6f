// Why an open or save failed, in GetLastError's terms and from the
// file's attributes.

#include "failurereason.h"
#include "failurereason_p.h"

#include <QFileInfo>

#include <qt_windows.h>

namespace kesto {

namespace systemError {
const int badName = ERROR_INVALID_NAME;
const int isDirectory = 336; // ERROR_DIRECTORY_NOT_SUPPORTED, which MinGW's headers lack
const int tooLarge = ERROR_FILE_TOO_LARGE;
const int readFailed = ERROR_READ_FAULT;
const int nameTooLong = ERROR_FILENAME_EXCED_RANGE;
} // namespace systemError

int lastSystemError() { return static_cast<int>(GetLastError()); }

void clearSystemError() { SetLastError(0); }

namespace failure {

QString fromError(int error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return QStringLiteral("brak miejsca na dysku");
    case ERROR_FILE_TOO_LARGE: return QStringLiteral("plik jest za duży");
    case ERROR_WRITE_PROTECT: return QStringLiteral("nośnik tylko do odczytu");
    default: return {};
    }
}

// A name takes 255 UTF-16 units; what the system says past that differs
// from one file system to another (Wine's: "not found").
QString fromName(const QFileInfo &info)
{
    return info.fileName().size() > 255 ? qt_error_string(systemError::nameTooLong) : QString();
}

QString fromWriteState(const QString &path, const QFileInfo &info)
{
    if (info.exists() &&
        (GetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16())) & FILE_ATTRIBUTE_READONLY) != 0)
        return QStringLiteral("plik tylko do odczytu");
    return {};
}

bool deniesAccess(int error) { return error == ERROR_ACCESS_DENIED; }

} // namespace failure

} // namespace kesto
