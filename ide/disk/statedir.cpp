#include "statedir.h"

#include <QDir>
#include <QFile>

namespace kesto {

QString stateDirectory()
{
    QString dir = systemStateFolder();
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return {};
    // Tightened every time, also for a folder an older run left open.
    if (!QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return {};
    return dir;
}

} // namespace kesto

namespace kesto {

bool foreignEntryAlive(SharedEntry entry, qint64 ageSeconds)
{
    const qint64 life = entry == SharedEntry::RecoveryLock ? 5 * recoveryLockHeartbeatSeconds : 3600;
    return ageSeconds < life;
}

} // namespace kesto
