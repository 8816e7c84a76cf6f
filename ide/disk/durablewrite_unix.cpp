// The durable steps on Unix: fsync of the file and of its folder, and a
// rename within the folder, taken through descriptors so that the folder
// synced is the one the name went into.

#include "durablewrite.h"

#include "fileio.h"
#include "fileio_unix.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::fileio {

namespace {

// True when the step may be taken; else errno tells of a refused step.
bool allowed(DurableStep::Kind kind, const QString &path, const QString &to = {})
{
    DurableStep step;
    step.kind = kind;
    step.path = path;
    step.to = to;
    if (stepAllowed(step))
        return true;
    errno = EIO;
    return false;
}

bool syncFolderDescriptor(int folderFd, const QString &folder)
{
    return allowed(DurableStep::SyncFolder, folder) && (::fsync(folderFd) == 0 || errno == EINVAL);
}

QByteArray nameOf(const QString &path) { return QFile::encodeName(QFileInfo(path).fileName()); }

} // namespace

bool syncFile(QFileDevice &file, const QString &name)
{
    return file.flush() && allowed(DurableStep::SyncFile, name.isEmpty() ? file.fileName() : name) &&
           ::fsync(file.handle()) == 0;
}

bool syncFolder(const QString &folder)
{
    const Descriptor fd(::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder the user may write but not read cannot be opened to sync it:
    // nothing more can be done there.
    if (fd.fd < 0)
        return errno == EACCES;
    return syncFolderDescriptor(fd.fd, folder);
}

struct DurableWrite::Private {
    Private(const QByteArray &path, const std::atomic<bool> *givenUpWhen)
        : folderPath(QFile::decodeName(folderOf(path))), target(path.mid(path.lastIndexOf('/') + 1)),
          abandoned(givenUpWhen),
          folder(::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {}

    QString folderPath; // for a watcher
    QByteArray target;  // the name in the folder
    const std::atomic<bool> *abandoned;
    Descriptor folder;
    Descriptor temp{-1};
    QByteArray prefix; // a fresh temporary's, for the name an unnamed one takes
    QByteArray name;   // the temporary's; empty while it has none (O_TMPFILE)
    qint64 offset = 0;
    bool placed = false;

    QString tempPath() const
    {
        return name.isEmpty() ? QString() : folderPath + u'/' + QFile::decodeName(name);
    }
    bool givenUp() const { return abandoned && abandoned->load(std::memory_order_relaxed); }
};

DurableWrite::DurableWrite(const QString &target, const std::atomic<bool> *abandoned)
    : DurableWrite(native(target), abandoned)
{}

DurableWrite::DurableWrite(const QByteArray &nativeTarget, const std::atomic<bool> *abandoned)
    : d(std::make_unique<Private>(nativeTarget, abandoned))
{}

DurableWrite::~DurableWrite()
{
    if (!d->name.isEmpty() && !d->placed)
        ::unlinkat(d->folder.fd, d->name.constData(), 0);
}

bool DurableWrite::ready() const { return d->folder.fd >= 0; }

int DurableWrite::handle() const { return d->temp.fd; }

bool DurableWrite::create(const QString &path)
{
    // Named before it is opened: whatever is in its way (a link) goes with
    // a failed write, and the next one finds the name free.
    d->name = nameOf(path);
    d->temp.fd = ::openat(d->folder.fd, d->name.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (d->temp.fd < 0)
        return false;
    // One left by an earlier run keeps the mode it had.
    return ::fchmod(d->temp.fd, 0600) == 0;
}

bool DurableWrite::createFresh(const QString &prefix, bool mayBeUnnamed, bool ownerOnly)
{
    d->prefix = nameOf(prefix);
    const mode_t mode = ownerOnly ? 0600 : 0666;
#ifdef O_TMPFILE
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (mayBeUnnamed && procFds) {
        d->temp.fd = ::openat(d->folder.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        // Only a file system without unnamed files gets a named one; any
        // other refusal means that the folder takes no new file.
        if (d->temp.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
    }
#endif
    for (int attempt = 0; attempt < 8 && d->temp.fd < 0; ++attempt) {
        const QByteArray candidate = d->prefix + uniqueSuffix().toLatin1();
        d->temp.fd =
            ::openat(d->folder.fd, candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (d->temp.fd >= 0)
            d->name = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (d->temp.fd < 0)
        return false;
    // Tells the clean-up of stray temporaries in another instance that this
    // write is running.
    ::flock(d->temp.fd, LOCK_EX | LOCK_NB);
    return true;
}

bool DurableWrite::write(std::string_view bytes)
{
    if (!writeAll(d->temp.fd, bytes, d->abandoned))
        return false;
    startWriteback(d->temp.fd, d->offset, static_cast<qint64>(bytes.size()));
    d->offset += static_cast<qint64>(bytes.size());
    return true;
}

DurableWrite::Outcome DurableWrite::place(Placing, const std::function<void()> &named)
{
    if (!allowed(DurableStep::SyncFile, d->tempPath()) || ::fsync(d->temp.fd) != 0 || d->givenUp())
        return Outcome::Failed;
    // An unnamed file gets its name only now: killed before this, the write
    // leaves nothing behind.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(d->temp.fd);
    for (int attempt = 0; attempt < 8 && d->name.isEmpty(); ++attempt) {
        const QByteArray candidate = d->prefix + uniqueSuffix().toLatin1();
        if (::linkat(AT_FDCWD, self.constData(), d->folder.fd, candidate.constData(), AT_SYMLINK_FOLLOW) == 0)
            d->name = candidate;
        else if (errno != EEXIST)
            return Outcome::Failed;
    }
    // Every placing is a rename here, over whatever has the name: the
    // caller gave the new file the old one's attributes beforehand.
    if (d->name.isEmpty() ||
        !allowed(DurableStep::Rename, d->tempPath(), d->folderPath + u'/' + QFile::decodeName(d->target)) ||
        ::renameat(d->folder.fd, d->name.constData(), d->folder.fd, d->target.constData()) != 0)
        return Outcome::Failed;
    d->placed = true;
    if (named)
        named();
    // Until the folder is synced, a power cut could bring back the old file,
    // or lose both, after the write has returned.
    return syncFolderDescriptor(d->folder.fd, d->folderPath) ? Outcome::Placed : Outcome::NotDurable;
}

// A rename keeps no backup.
QString DurableWrite::backupKept() const { return {}; }

} // namespace kesto::fileio
