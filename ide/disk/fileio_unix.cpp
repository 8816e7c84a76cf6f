// The small file operations on Unix: descriptors, flock, fchmod.

#include "fileio_unix.h"

#include "fileidentity.h"
#include "fileio.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::fileio {

namespace {
// Pieces smaller than this are not worth a call to start their writeback.
[[maybe_unused]] constexpr qint64 writebackMinimum = qint64(512) << 10;
// Small enough that an abandoned write stops soon.
constexpr std::size_t writeChunk = std::size_t(4) << 20;
} // namespace

qsizetype nameUnits(const QString &piece) { return native(piece).size(); }

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

Descriptor::~Descriptor()
{
    if (fd >= 0)
        ::close(fd);
}

bool writeAll(int fd, std::string_view bytes, const std::atomic<bool> *abandoned)
{
    while (!bytes.empty()) {
        if (abandoned && abandoned->load(std::memory_order_relaxed))
            return false;
        const ssize_t n = ::write(fd, bytes.data(), std::min(bytes.size(), writeChunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool openExisting(QFile &file, const QString &path)
{
    file.setFileName(path);
    const QByteArray name = native(path);
    if (name.isEmpty() || name.contains('\0'))
        return false;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the window.
    const int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, O_RDWR) != 0 ||
        !file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

void startWriteback([[maybe_unused]] int fd, [[maybe_unused]] qint64 offset, [[maybe_unused]] qint64 size)
{
#ifdef Q_OS_LINUX
    if (size >= writebackMinimum)
        ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
#endif
}

bool lockFile(QFile &file) { return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0; }

bool stillNamed(const QFile &file)
{
    return identityOf(file.fileName()) == identityOfDescriptor(file.handle());
}

void touchLock(int fd)
{
    if (fd >= 0)
        ::futimens(fd, nullptr);
}

KeptMode::KeptMode(const QFile &file) : m_fd(file.handle())
{
    struct stat st {};
    m_mode = ::fstat(m_fd, &st) == 0 ? (st.st_mode & 07777) : 0;
}

void KeptMode::restore() const
{
    struct stat st {};
    if (m_mode != 0 && ::fstat(m_fd, &st) == 0 && (st.st_mode & 07777) != m_mode)
        ::fchmod(m_fd, static_cast<mode_t>(m_mode));
}

} // namespace kesto::fileio
