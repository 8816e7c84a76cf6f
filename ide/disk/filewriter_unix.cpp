// The writer on Unix: links followed by hand, the new file given the old
// one's owner, group, mode and extended attributes before it takes its name.

#include "filewriter_p.h"

#include "fileio.h"
#include "fileio_unix.h"
#include "inplacewrite.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

namespace kesto::writer {

using namespace fileio;

void removeUnlessHeld(const QString &path)
{
    const QByteArray name = native(path);
    const Descriptor fd(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.fd >= 0 && ::flock(fd.fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(name.constData());
}

namespace {

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

Replace replaceFile(const Target &t, const ByteSource &source, const WriteOptions &options,
                    WriteResult &result)
{
    const Replace elsewhere = t.exists ? Replace::NotPossible : Replace::Failed;
    // The name a link leads to is taken as it is: it need not be text.
    const QString target = QFile::decodeName(t.path);
    DurableWrite temp(t.path);
    if (!temp.ready())
        return elsewhere;
    const QFileInfo info(target);
    removeStrayTemporaries(info.path(), info.fileName());
    // A new file gets what the user's umask leaves; the copy of an old one
    // stays private until it has the old one's owner and mode.
    if (!temp.createFresh(info.path() + u'/' + temporaryPrefix(info.fileName()), options.unnamedTemporary,
                          t.exists))
        return elsewhere;
    if (t.exists && !giveAttributes(temp.handle(), t))
        return Replace::NotPossible;
    return writeAndPlace(temp, target, t.exists ? DurableWrite::Placing::Replace : DurableWrite::Placing::New,
                         source, options, result);
}

} // namespace

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
    if ((!t.exists || t.st.st_nlink == 1) && replaceIsOver(replaceFile(t, source, options, result), result))
        return result;
    result.way = WriteWay::InPlace;
    QFile target;
    struct stat st {};
    const QString targetPath = QFile::decodeName(t.path);
    if (!openExisting(target, targetPath) || ::fstat(target.handle(), &st) != 0 || st.st_dev != t.st.st_dev ||
        st.st_ino != t.st.st_ino)
        return result;
    return rewriteInPlace(target, QFileInfo(targetPath).absoluteFilePath(), source, options);
}

} // namespace kesto::writer
