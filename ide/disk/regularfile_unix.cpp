// Opening a file for reading on Unix: a FIFO or a device must not block.

#include "regularfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto {

bool openRegularFileForReading(QFile &file)
{
    const QByteArray path = QFile::encodeName(file.fileName());
    // A NUL would cut the name short and open some other file.
    if (path.isEmpty() || path.contains('\0'))
        return false;
    // O_NONBLOCK keeps open() of a FIFO from waiting for a writer; the type is
    // then checked on the descriptor itself, so nothing can swap the file in between.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace kesto
