// The folder of recovery copies on Windows: a QLockFile stands for flock.
// The instance keeps its lock file open, and nobody can take or remove it
// until the instance ends; the lock of an instance whose process is gone is
// stale, and taking it removes it.

#include "recoverystore.h"

#include "fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace kesto::recovery {

using namespace fileio;

namespace {

QString idOf(const QString &name) { return name.left(name.indexOf(u'.')); }

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

} // namespace kesto::recovery
