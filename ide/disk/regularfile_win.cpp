// Opening a file for reading on Windows.

#include "regularfile.h"

#include <QFile>
#include <QFileInfo>

namespace kesto {

// Opening a device or a pipe by name here does not wait; what it is, is
// asked first.
bool openRegularFileForReading(QFile &file)
{
    if (!QFileInfo(file.fileName()).isFile())
        return false;
    return file.open(QIODevice::ReadOnly);
}

} // namespace kesto
