// The program's own folder on Windows: the local application data folder.

#include "statedir.h"

#include <QStandardPaths>

namespace kesto {

QString systemStateFolder()
{
    // XDG_STATE_HOME counts only as a Windows path (with a drive or a server
    // name): the tests give each case a folder of its own through it, and
    // Wine hands on the Unix one, which is not meant for Windows programs.
    const QString base = qEnvironmentVariable("XDG_STATE_HOME");
    const bool windowsPath =
        (base.size() > 2 && base.at(1) == u':' && (base.at(2) == u'/' || base.at(2) == u'\\')) ||
        base.startsWith(QStringLiteral("//")) || base.startsWith(QStringLiteral("\\\\"));
    return windowsPath ? base + QStringLiteral("/kestoide")
                       : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

} // namespace kesto
