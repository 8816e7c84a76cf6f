// The folder of recovery copies on Unix: each instance's lock is a file
// held with flock, and refreshed now and then for other hosts to see.

#include "recoverystore.h"

#include "fileio.h"
#include "fileio_unix.h"
#include "statedir.h"

#include <QDir>
#include <QFile>
#include <QLockFile> // for ~Store(): its QLockFile pointer stays empty here

#include <algorithm>
#include <ctime>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::recovery {

using namespace fileio;

namespace {

QString idOf(const QString &name) { return name.left(name.indexOf(u'.')); }

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

} // namespace kesto::recovery
