#include "fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <mutex>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros
#endif

namespace kesto::fileio {

namespace {
// Pieces smaller than this are not worth a call to start their writeback.
constexpr qint64 writebackMinimum = qint64(512) << 10;
// Small enough that an abandoned write stops soon.
constexpr std::size_t writeChunk = std::size_t(4) << 20;

std::mutex watchMutex;
StepWatch stepWatch;

// True when the step may be taken; else the error of a refused step is set.
bool mayTake(DurableStep::Kind kind, const QString &path, const QString &to = {}, const QString &backup = {},
             bool writeThrough = false)
{
    StepWatch watch;
    {
        const std::lock_guard lock(watchMutex);
        if (!stepWatch)
            return true;
        watch = stepWatch;
    }
    DurableStep step;
    step.kind = kind;
    step.path = path;
    step.to = to;
    step.backup = backup;
    step.writeThrough = writeThrough;
    if (watch(step))
        return true;
#ifdef Q_OS_WIN
    SetLastError(ERROR_WRITE_FAULT);
#else
    errno = EIO;
#endif
    return false;
}
} // namespace

void watchDurableSteps(StepWatch watch)
{
    const std::lock_guard lock(watchMutex);
    stepWatch = std::move(watch);
}

QByteArray native(const QString &path) { return QFile::encodeName(path); }

#ifdef Q_OS_WIN
std::wstring longPath(const QString &path)
{
    QString p = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (!p.startsWith(QStringLiteral("\\\\?\\")))
        p = p.startsWith(QStringLiteral("\\\\")) ? QStringLiteral("\\\\?\\UNC\\") + p.mid(2)
                                                 : QStringLiteral("\\\\?\\") + p;
    return p.toStdWString();
}
#endif

QByteArray thisHost() { return QSysInfo::machineHostName().toUtf8(); }

QString nameStem(const QString &name)
{
    constexpr qsizetype most = 200;
    qsizetype end = 0;
    qsizetype units = 0;
    while (end < name.size()) {
        const qsizetype next = end + (name.at(end).isHighSurrogate() && end + 1 < name.size() ? 2 : 1);
#ifdef Q_OS_WIN
        units = next; // NTFS counts a name in UTF-16 units
#else
        units += native(name.mid(end, next - end)).size();
#endif
        if (units > most)
            break;
        end = next;
    }
    return name.left(end);
}

QString uniqueSuffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (qsizetype i = 0; i < uniqueSuffixLength; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(36)]);
    return suffix;
}

QString backupName(const QString &folder, const QString &name)
{
    return folder + u'/' + nameStem(name) + QStringLiteral(".kestoide-backup-") + uniqueSuffix();
}

QString randomId()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
}

#ifdef Q_OS_UNIX
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
#endif

bool openExisting(QFile &file, const QString &path)
{
    file.setFileName(path);
#ifdef Q_OS_UNIX
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
#else
    return file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered);
#endif
}

bool writeOut(QFileDevice &file, std::string_view bytes)
{
    const qint64 offset = file.pos();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size)
        return false;
    startWriteback(file.handle(), offset, size);
    return true;
}

void startWriteback([[maybe_unused]] int fd, [[maybe_unused]] qint64 offset, [[maybe_unused]] qint64 size)
{
#ifdef Q_OS_LINUX
    if (size >= writebackMinimum)
        ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
#endif
}

bool syncFile(QFileDevice &file, const QString &name)
{
    if (!file.flush() || !mayTake(DurableStep::SyncFile, name.isEmpty() ? file.fileName() : name))
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool syncFolder([[maybe_unused]] const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder the user may write but not read cannot be opened to sync it:
    // nothing more can be done there.
    if (fd < 0)
        return errno == EACCES;
    const bool synced = syncFolderDescriptor(fd, folder);
    ::close(fd);
    return synced;
#else
    // NTFS journals its names; the renames themselves ask to be written through.
    return true;
#endif
}

bool renameFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    return moveFile(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return mayTake(DurableStep::Rename, from, to) &&
           ::rename(native(from).constData(), native(to).constData()) == 0;
#endif
}

#ifdef Q_OS_UNIX
bool syncDescriptor(int fd, const QString &name)
{
    return mayTake(DurableStep::SyncFile, name) && ::fsync(fd) == 0;
}

bool syncFolderDescriptor(int folderFd, const QString &folder)
{
    return mayTake(DurableStep::SyncFolder, folder) && (::fsync(folderFd) == 0 || errno == EINVAL);
}

bool renameIn(int folderFd, const QString &folder, const QByteArray &from, const QByteArray &to)
{
    return mayTake(DurableStep::Rename, folder + u'/' + QFile::decodeName(from),
                   folder + u'/' + QFile::decodeName(to)) &&
           ::renameat(folderFd, from.constData(), folderFd, to.constData()) == 0;
}
#endif

#ifdef Q_OS_WIN
bool moveFile(const QString &from, const QString &to, unsigned long flags)
{
    return mayTake(DurableStep::Rename, from, to, {}, (flags & MOVEFILE_WRITE_THROUGH) != 0) &&
           MoveFileExW(longPath(from).c_str(), longPath(to).c_str(), flags);
}

bool replaceFile(const QString &target, const QString &replacement, const QString &backup)
{
    return mayTake(DurableStep::Replace, replacement, target, backup) &&
           ReplaceFileW(longPath(target).c_str(), longPath(replacement).c_str(), longPath(backup).c_str(),
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

bool syncPath(const QString &path)
{
    if (!mayTake(DurableStep::SyncFile, path))
        return false;
    const HANDLE h = CreateFileW(longPath(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(h);
    CloseHandle(h);
    return flushed;
}
#endif

bool lockFile(QFile &file)
{
#ifdef Q_OS_WIN
    OVERLAPPED whole{};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
#else
    return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0;
#endif
}

#ifdef Q_OS_UNIX
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
#else
// Windows keeps a file's attributes when it is written.
KeptMode::KeptMode(const QFile &) {}
void KeptMode::restore() const {}
#endif

} // namespace kesto::fileio
