#include "recoverystore.h"

#include "fileio.h"
#include "statedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <ctime>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kesto::recovery {

using namespace fileio;

namespace {

QString idOf(const QString &name) { return name.left(name.indexOf(u'.')); }

} // namespace

#ifdef Q_OS_UNIX
namespace {

// A lock file of another instance, open and locked by us when its owner is gone.
class OtherLock {
public:
    // Opens the lock file `path`; free() tells whether its instance is gone.
    explicit OtherLock(const QString &path)
    {
        m_fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (m_fd < 0) {
            // No lock file: its instance never got as far as a copy, or
            // ended and removed it; anything else is taken as held.
            m_free = errno == ENOENT;
            return;
        }
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return;
        m_free = !isFreshFromAnotherHost();
    }
    ~OtherLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OtherLock(const OtherLock &) = delete;
    OtherLock &operator=(const OtherLock &) = delete;

    bool free() const { return m_free; }

private:
    bool isFreshFromAnotherHost() const
    {
        char buffer[256];
        const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, 0);
        const QByteArray content(buffer, n > 0 ? static_cast<qsizetype>(n) : 0);
        if (content.left(content.indexOf('\n')) == thisHost())
            return false;
        struct stat st {};
        return ::fstat(m_fd, &st) != 0 ||
               foreignEntryAlive(SharedEntry::RecoveryLock, std::time(nullptr) - st.st_mtime);
    }

    int m_fd = -1;
    bool m_free = false;
};

} // namespace

Store::Store(const QString &folder) : m_folder(folder)
{
    if (folder.isEmpty())
        return;
    // The lock file is made and locked under a name nobody looks at, and
    // only then given its own: a lock file seen by another instance is
    // always locked while its instance lives.
    for (int attempt = 0; attempt < 3 && m_lockFd < 0; ++attempt) {
        m_id = randomId();
        const QString lockPath = m_folder + u'/' + m_id + QStringLiteral(".lock");
        const QByteArray temp = native(lockPath + QStringLiteral(".new"));
        const int fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            continue;
        const QByteArray content = thisHost() + '\n' + QByteArray::number(::getpid()) + '\n';
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            writeAll(fd, {content.constData(), std::size_t(content.size())}) &&
            ::rename(temp.constData(), native(lockPath).constData()) == 0) {
            m_lockFd = fd;
            break;
        }
        ::unlink(temp.constData());
        ::close(fd);
    }
}

bool Store::isHeld() const { return m_lockFd >= 0; }

Store::~Store()
{
    if (m_lockFd < 0)
        return;
    // Removed while still held, so no other instance can mistake it for the
    // lock of a live one in between.
    ::unlink(native(m_folder + u'/' + m_id + QStringLiteral(".lock")).constData());
    ::close(m_lockFd);
}

bool Store::claimLeftover()
{
    struct stat own {};
    if (!isHeld() || ::lstat(native(copyPath()).constData(), &own) == 0)
        return false;
    const QDir dir(m_folder);
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const auto pathOf = [this](const QString &id, const char *suffix) {
        return m_folder + u'/' + id + QLatin1String(suffix);
    };

    struct Candidate {
        QString id;
        std::timespec modified;
    };
    std::vector<Candidate> candidates;
    for (const QString &name : dir.entryList({QStringLiteral("*.copy")}, all)) {
        struct stat st {};
        if (idOf(name) != m_id && ::lstat(native(dir.filePath(name)).constData(), &st) == 0)
            candidates.push_back({idOf(name), st.st_mtim});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        return a.modified.tv_sec != b.modified.tv_sec ? a.modified.tv_sec > b.modified.tv_sec
                                                      : a.modified.tv_nsec > b.modified.tv_nsec;
    });
    bool claimed = false;
    for (const Candidate &c : candidates) {
        const OtherLock lock(pathOf(c.id, ".lock"));
        if (!lock.free())
            continue;
        // Whoever renames first has it; the others find it gone.
        if (::rename(native(pathOf(c.id, ".copy")).constData(), native(copyPath()).constData()) == 0) {
            claimed = true;
            break;
        }
    }

    // Lock files of dead instances that have no copy any more, and their
    // unfinished writes, are of no use to anyone.
    for (const QString &name : dir.entryList({QStringLiteral("*.lock"), QStringLiteral("*.lock.new")}, all)) {
        const QString id = idOf(name);
        if (id == m_id || QFile::exists(pathOf(id, ".copy")))
            continue;
        const OtherLock lock(dir.filePath(name));
        if (lock.free()) {
            ::unlink(native(pathOf(id, ".copy.tmp")).constData());
            ::unlink(native(dir.filePath(name)).constData());
        }
    }
    return claimed;
}

QString Store::setAside()
{
    // A name of its own: one start may set several aside.
    QString aside = m_folder + u'/' + randomId() + QStringLiteral(".damaged");
    if (::rename(native(copyPath()).constData(), native(aside).constData()) != 0)
        return {};
    return aside;
}

bool Store::giveBack()
{
    // A fresh id has no lock file: its copy is left over from the start.
    const QString free = m_folder + u'/' + randomId() + QStringLiteral(".copy");
    return ::rename(native(copyPath()).constData(), native(free).constData()) == 0;
}

void Store::removeCopy()
{
    ::unlink(native(tempPath()).constData());
    ::unlink(native(copyPath()).constData());
}

#else
// Elsewhere (Windows) a QLockFile stands for flock: the instance keeps its
// lock file open, and nobody can take or remove it until the instance ends;
// the lock of an instance whose process is gone is stale, and taking it
// removes it.
namespace {

bool lockIsFree(const QString &path)
{
    if (!QFileInfo::exists(path))
        return true;
    QLockFile other(path);
    other.setStaleLockTime(0); // never by age: only a dead owner frees it
    if (!other.tryLock(0))
        return false;
    other.unlock();
    return true;
}

} // namespace

Store::Store(const QString &folder) : m_folder(folder)
{
    if (folder.isEmpty())
        return;
    for (int attempt = 0; attempt < 3 && !m_lock; ++attempt) {
        m_id = randomId();
        auto lock = std::make_unique<QLockFile>(m_folder + u'/' + m_id + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (lock->tryLock(0))
            m_lock = std::move(lock);
    }
}

// The lock file goes with the QLockFile; the copy stays.
Store::~Store() = default;

bool Store::isHeld() const { return m_lock != nullptr; }

bool Store::claimLeftover()
{
    if (!isHeld() || QFileInfo::exists(copyPath()))
        return false;
    const QDir dir(m_folder);
    // Whatever bears a copy's name: one that is no plain file is set aside
    // as damaged once claimed.
    const auto files = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    bool claimed = false;
    // Newest first; whoever renames first has it, the others find it gone.
    for (const QFileInfo &copy : dir.entryInfoList({QStringLiteral("*.copy")}, files, QDir::Time)) {
        const QString id = idOf(copy.fileName());
        if (id != m_id && lockIsFree(dir.filePath(id + QStringLiteral(".lock"))) &&
            QFile::rename(copy.filePath(), copyPath())) {
            claimed = true;
            break;
        }
    }
    // Lock files of dead instances without a copy, and their unfinished
    // writes, are of no use to anyone.
    for (const QString &name : dir.entryList({QStringLiteral("*.lock")}, files)) {
        const QString id = idOf(name);
        if (id == m_id || QFile::exists(dir.filePath(id + QStringLiteral(".copy"))) ||
            !lockIsFree(dir.filePath(name)))
            continue;
        for (const QString &unfinished : dir.entryList({id + QStringLiteral(".copy.*")}, files))
            QFile::remove(dir.filePath(unfinished));
    }
    return claimed;
}

QString Store::setAside()
{
    QString aside = m_folder + u'/' + randomId() + QStringLiteral(".damaged");
    return QFile::rename(copyPath(), aside) ? aside : QString();
}

bool Store::giveBack()
{
    // A fresh id has no lock file: its copy is left over from the start.
    return QFile::rename(copyPath(), m_folder + u'/' + randomId() + QStringLiteral(".copy"));
}

void Store::removeCopy()
{
    QFile::remove(tempPath());
    QFile::remove(copyPath());
}
#endif

} // namespace kesto::recovery
