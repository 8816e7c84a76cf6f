#include "filewriter.h"

#include "fileio.h"
#include "inplacewrite.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif
#ifdef Q_OS_WIN
#include <QScopeGuard>

#include <qt_windows.h> // windows.h without the min and max macros
#endif

namespace kesto {

namespace {

using namespace fileio;
using writer::rewriteInPlace;

// What the Replace way came to; NotPossible hands the save to the in-place way.
enum class Replace { Done, Failed, Cancelled, NotPossible };

// A temporary file is named after its target, so that the next save of that
// file finds one a killed save left behind, and says what it is.
QString temporaryPrefix(const QString &name)
{
    return u'.' + nameStem(name) + QStringLiteral(".kestoide-tmp-");
}

// Removes the stray temporary files of `name` in `folder`: what saves left
// when they were killed between naming their temporary file and renaming it. A save still running
// in another instance holds a lock on its file (Unix) or keeps it open
// (Windows), and its file stays.
void removeStrayTemporaries(const QString &folder, const QString &name)
{
    const QString prefix = temporaryPrefix(name);
    // Unsorted and without name filters, which would take a '[' in the name
    // for a wildcard: a large folder costs no more than reading it.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString entry = it.fileName();
        if (!entry.startsWith(prefix) || entry.size() != prefix.size() + uniqueSuffixLength)
            continue;
#ifdef Q_OS_UNIX
        const QByteArray native = QFile::encodeName(path);
        const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(native.constData());
        ::close(fd);
#else
        QFile::remove(path);
#endif
    }
}

WriteStatus statusOf(Replace r)
{
    return r == Replace::Done        ? WriteStatus::Written
           : r == Replace::Cancelled ? WriteStatus::Cancelled
                                     : WriteStatus::Failed;
}

#ifdef Q_OS_UNIX

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

// The file a write to `path` reaches: the link stays and the file it names
// gets the text. A missing file at the end is fine: the save creates it.
bool followLinks(QByteArray path, QByteArray &target)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        QByteArray link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.constData(), link.data(), static_cast<std::size_t>(link.size()));
        if (n <= 0 || n >= link.size())
            return false;
        link.truncate(n);
        path = link.startsWith('/') ? link : folderOf(path) + '/' + link;
    }
    return false;
}

struct Target {
    QByteArray path; // links followed
    bool exists = false;
    struct stat st {};
};

// Refused, whoever the user is: the systems the program was made for refuse
// a read-only file even to an administrator, and root would write a file
// whose mode has no write bit, or one that may only grow.
bool refusesWriting(const Target &t)
{
    if ((t.st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, t.path.constData(), W_OK, AT_EACCESS) != 0)
        return true;
#ifdef Q_OS_LINUX
    const int fd = ::open(t.path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        int flags = 0;
        const bool fixed =
            ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
        ::close(fd);
        return fixed;
    }
#endif
    return false;
}

#ifdef Q_OS_LINUX
bool readAttribute(const QByteArray &path, const QByteArray &name, QByteArray &value)
{
    for (;;) {
        const ssize_t size = ::getxattr(path.constData(), name.constData(), nullptr, 0);
        if (size < 0)
            return false;
        value.resize(size);
        const ssize_t got = size == 0 ? 0
                                      : ::getxattr(path.constData(), name.constData(), value.data(),
                                                   static_cast<std::size_t>(size));
        if (got >= 0) {
            value.truncate(got);
            return true;
        }
        if (errno != ERANGE) // else it grew in between: ask again
            return false;
    }
}
#endif

// POSIX ACLs are extended attributes too (system.posix_acl_access), so this
// keeps them without libacl.
bool copyExtendedAttributes([[maybe_unused]] const QByteArray &from, [[maybe_unused]] int to)
{
#ifdef Q_OS_LINUX
    QByteArray names;
    for (;;) {
        const ssize_t size = ::listxattr(from.constData(), nullptr, 0);
        if (size < 0) // a file system without them has none to keep
            return errno == ENOTSUP;
        names.resize(size);
        const ssize_t got =
            size == 0 ? 0 : ::listxattr(from.constData(), names.data(), static_cast<std::size_t>(size));
        if (got >= 0) {
            names.truncate(got);
            break;
        }
        if (errno != ERANGE)
            return false;
    }
    for (const QByteArray &name : names.split('\0')) {
        QByteArray value;
        if (!name.isEmpty() && (!readAttribute(from, name, value) ||
                                ::fsetxattr(to, name.constData(), value.constData(),
                                            static_cast<std::size_t>(value.size()), 0) != 0))
            return false;
    }
#endif
    return true;
}

// Owner and group first (a change of owner clears the set-user-ID bit), then
// the mode, then the extended attributes; checked afterwards, since a user
// who is not root may see a set-group-ID bit silently dropped.
bool giveAttributes(int fd, const Target &t)
{
    if (::fchown(fd, t.st.st_uid, t.st.st_gid) != 0 || ::fchmod(fd, t.st.st_mode & 07777) != 0 ||
        !copyExtendedAttributes(t.path, fd))
        return false;
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_uid == t.st.st_uid && now.st_gid == t.st.st_gid &&
           (now.st_mode & 07777) == (t.st.st_mode & 07777);
}

bool writeDescriptor(int fd, std::string_view bytes, qint64 &offset)
{
    if (!writeAll(fd, bytes))
        return false;
    startWriteback(fd, offset, static_cast<qint64>(bytes.size()));
    offset += static_cast<qint64>(bytes.size());
    return true;
}

// A temporary file in the target's folder, removed again unless it took the
// target's place.
struct Temporary : Descriptor {
    explicit Temporary(int inFolder) : Descriptor(-1), folder(inFolder) {}
    ~Temporary()
    {
        if (!name.isEmpty() && !placed)
            ::unlinkat(folder, name.constData(), 0);
    }
    int folder;
    QByteArray name; // empty while it has none (O_TMPFILE)
    bool placed = false;
};

Replace replaceFile(const Target &t, const ByteSource &source, const WriteOptions &options,
                    WriteResult &result)
{
    const Replace elsewhere = t.exists ? Replace::NotPossible : Replace::Failed;
    const QByteArray name = nameOf(t.path);
    const Descriptor folder(::open(folderOf(t.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0)
        return elsewhere;
    removeStrayTemporaries(QFile::decodeName(folderOf(t.path)), QFile::decodeName(name));
    const QByteArray prefix = QFile::encodeName(temporaryPrefix(QFile::decodeName(name)));
    const auto temporaryName = [&prefix] { return prefix + uniqueSuffix().toLatin1(); };

    // A new file gets what the user's umask leaves; the copy of an old one
    // stays private until it has the old one's owner and mode.
    const mode_t mode = t.exists ? 0600 : 0666;
    Temporary temp(folder.fd);
#ifdef O_TMPFILE
    static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
    if (options.unnamedTemporary && procFds) {
        temp.fd = ::openat(folder.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        // Only a file system without unnamed files gets a named one; any
        // other refusal means that the folder takes no new file.
        if (temp.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return elsewhere;
    }
#endif
    for (int attempt = 0; attempt < 8 && temp.fd < 0; ++attempt) {
        const QByteArray candidate = temporaryName();
        temp.fd = ::openat(folder.fd, candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (temp.fd >= 0)
            temp.name = candidate;
        else if (errno != EEXIST)
            break;
    }
    if (temp.fd < 0)
        return elsewhere;
    // Tells removeStrayTemporaries in another instance that this save is running.
    ::flock(temp.fd, LOCK_EX | LOCK_NB);
    if (t.exists && !giveAttributes(temp.fd, t))
        return Replace::NotPossible;

    qint64 offset = 0;
    if (!source([&](std::string_view bytes) { return writeDescriptor(temp.fd, bytes, offset); }))
        return Replace::Failed;
    if (options.confirm && !options.confirm())
        return Replace::Cancelled;
    // Taken now and again right after the rename, not after the syncs: a
    // program that writes the file while they run must not have its change
    // taken for this save's.
    const FileIdentity atLastByte = identityOfDescriptor(temp.fd);
    if (options.afterLastByte)
        options.afterLastByte();
    const QString folderPath = QFile::decodeName(folderOf(t.path));
    if (!syncDescriptor(temp.fd,
                        temp.name.isEmpty() ? QString() : folderPath + u'/' + QFile::decodeName(temp.name)))
        return Replace::Failed;
    // An unnamed file gets its name only now: killed before this, the save
    // leaves nothing behind.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(temp.fd);
    for (int attempt = 0; attempt < 8 && temp.name.isEmpty(); ++attempt) {
        const QByteArray candidate = temporaryName();
        if (::linkat(AT_FDCWD, self.constData(), folder.fd, candidate.constData(), AT_SYMLINK_FOLLOW) == 0)
            temp.name = candidate;
        else if (errno != EEXIST)
            return Replace::Failed;
    }
    if (temp.name.isEmpty() || !renameIn(folder.fd, folderPath, temp.name, name))
        return Replace::Failed;
    temp.placed = true;
    result.written = identityOfPlaced(atLastByte, identityOfDescriptor(temp.fd));
    // Until the folder is synced, a power cut could bring back the old file,
    // or lose both, after Save has returned.
    if (!syncFolderDescriptor(folder.fd, folderPath))
        return Replace::Failed;
    return Replace::Done;
}

WriteResult writeFileHere(const QString &path, const ByteSource &source, const WriteOptions &options)
{
    WriteResult result;
    const QByteArray given = QFile::encodeName(path);
    Target t;
    if (given.isEmpty() || given.contains('\0') || !followLinks(given, t.path))
        return result;
    t.exists = ::stat(t.path.constData(), &t.st) == 0;
    if (!t.exists && errno != ENOENT)
        return result;
    // A FIFO or a device would be written to, or replaced by a plain file
    // (as root even /dev/null): refused.
    if (t.exists && (!S_ISREG(t.st.st_mode) || refusesWriting(t)))
        return result;
    // The other names of a hard-linked file would keep the old content.
    if (!t.exists || t.st.st_nlink == 1) {
        result.way = WriteWay::Replace;
        const Replace r = replaceFile(t, source, options, result);
        result.status = statusOf(r);
        if (r != Replace::NotPossible)
            return result;
    }
    result.way = WriteWay::InPlace;
    QFile target;
    struct stat st {};
    const QString targetPath = QFile::decodeName(t.path);
    if (!openExisting(target, targetPath) || ::fstat(target.handle(), &st) != 0 || st.st_dev != t.st.st_dev ||
        st.st_ino != t.st.st_ino)
        return result;
    return rewriteInPlace(target, QFileInfo(targetPath).absoluteFilePath(), source, options);
}

#endif // Q_OS_UNIX

#ifdef Q_OS_WIN

std::wstring wide(const QString &path) { return longPath(path); }

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Replace replaceFile(const QString &target, DWORD attributes, const ByteSource &source,
                    const WriteOptions &options, WriteResult &result)
{
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    const QFileInfo info(target);
    removeStrayTemporaries(info.path(), info.fileName());
    const QString prefix = info.path() + u'/' + temporaryPrefix(info.fileName());
    QFile temp;
    for (int attempt = 0; attempt < 8 && !temp.isOpen(); ++attempt) {
        temp.setFileName(prefix + uniqueSuffix());
        if (!temp.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            temp.setFileName(QString());
    }
    if (!temp.isOpen())
        return existed ? Replace::NotPossible : Replace::Failed;
    auto discard = qScopeGuard([&temp] { temp.remove(); });
    if (!source([&temp](std::string_view bytes) { return writeOut(temp, bytes); }))
        return Replace::Failed;
    if (options.confirm && !options.confirm())
        return Replace::Cancelled;
    // As on Unix: taken before the syncs, checked right after the rename.
    const FileIdentity atLastByte = identityOfDescriptor(temp.handle());
    if (options.afterLastByte)
        options.afterLastByte();
    if (!syncFile(temp))
        return Replace::Failed;
    temp.close();
    const std::wstring to = wide(target);
    if (!existed) {
        if (!moveFile(temp.fileName(), target, MOVEFILE_WRITE_THROUGH))
            return Replace::Failed;
        discard.dismiss();
        result.written = identityOfPlaced(atLastByte, identityOf(target));
        return Replace::Done;
    }

    // ReplaceFileW gives the new file the old one's attributes, ACL, creation
    // time and streams. With a backup name, each way it can fail leaves the
    // old file under one of the two names; it goes back under its own, and
    // the in-place rewrite (which keeps all of that by touching only the
    // content) takes over: a file the user may write but not delete or
    // replace, one held open by another program without leave to rename it.
    // The backup's name is no temporary's: should it have to stay, no later
    // save takes it for a stray file of its own.
    const QString backup = backupName(info.path(), info.fileName());
    if (!fileio::replaceFile(target, temp.fileName(), backup)) {
        if (!exists(to) && exists(wide(backup)) && !moveFile(backup, target, MOVEFILE_WRITE_THROUGH)) {
            result.backupKept = QDir::toNativeSeparators(backup);
            return Replace::Failed;
        }
        return exists(to) ? Replace::NotPossible : Replace::Failed;
    }
    discard.dismiss();
    DeleteFileW(wide(backup).c_str());
    // Attributes that did not come along are set again (Wine's ReplaceFileW
    // leaves them behind); the archive bit stays as the write left it.
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_TEMPORARY;
    const DWORD now = GetFileAttributesW(to.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & kept) != (attributes & kept)) {
        const DWORD wanted = (now & FILE_ATTRIBUTE_ARCHIVE) | (attributes & kept);
        SetFileAttributesW(to.c_str(), wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
    }
    result.written = identityOfPlaced(atLastByte, identityOf(target));
    return syncPath(target) ? Replace::Done : Replace::Failed;
}

WriteResult writeFileHere(const QString &path, const ByteSource &source, const WriteOptions &options)
{
    WriteResult result;
    if (path.isEmpty() || path.contains(QChar(0)))
        return result;
    // Links are followed: the link stays and the file it names gets the text.
    const QFileInfo info(path);
    const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const DWORD attributes = GetFileAttributesW(wide(target).c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    // The read-only attribute is refused, as Windows refuses it to an
    // administrator too.
    if (existed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return result;
    DWORD links = 1;
    if (existed) {
        const HANDLE h = CreateFileW(wide(target).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return result;
        BY_HANDLE_FILE_INFORMATION about{};
        // A device (NUL, COM1) is not saved over.
        const bool onDisk = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &about);
        CloseHandle(h);
        if (!onDisk)
            return result;
        links = about.nNumberOfLinks;
    }
    if (links == 1) {
        result.way = WriteWay::Replace;
        const Replace r = replaceFile(target, attributes, source, options, result);
        result.status = statusOf(r);
        if (r != Replace::NotPossible)
            return result;
    }
    result.way = WriteWay::InPlace;
    QFile file;
    if (!openExisting(file, target))
        return result;
    return rewriteInPlace(file, target, source, options);
}

#endif // Q_OS_WIN

} // namespace

WriteResult writeFile(const QString &path, const ByteSource &source, const WriteOptions &options)
{
#ifdef Q_OS_WIN
    SetLastError(0);
#else
    errno = 0;
#endif
    WriteResult result = writeFileHere(path, source, options);
    if (result.status == WriteStatus::Failed) {
#ifdef Q_OS_WIN
        result.error = static_cast<int>(GetLastError());
#else
        result.error = errno;
#endif
    }
    if (result.status == WriteStatus::Written && !result.written.exists)
        result.written = identityOf(path);
    return result;
}

bool writeWholeFile(const QString &path, std::string_view bytes, bool quiet)
{
    WriteOptions options;
    options.quiet = quiet;
    return writeFile(
               path, [bytes](const ByteSink &sink) { return sink(bytes); }, options)
               .status == WriteStatus::Written;
}

} // namespace kesto
