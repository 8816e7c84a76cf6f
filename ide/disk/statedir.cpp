#include "statedir.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kesto {

QString stateDirectory()
{
#ifdef Q_OS_WIN
    // XDG_STATE_HOME counts only as a Windows path (with a drive or a server
    // name): the tests give each case a folder of its own through it, and
    // Wine hands on the Unix one, which is not meant for Windows programs.
    const QString base = qEnvironmentVariable("XDG_STATE_HOME");
    const bool windowsPath =
        (base.size() > 2 && base.at(1) == u':' && (base.at(2) == u'/' || base.at(2) == u'\\')) ||
        base.startsWith(QStringLiteral("//")) || base.startsWith(QStringLiteral("\\\\"));
    QString dir = windowsPath ? base + QStringLiteral("/kestoide")
                              : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    // Qt 6.4 has no StateLocation; the XDG base directory rules apply.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    QString dir = base + QStringLiteral("/kestoide");
#endif
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
