// The program's own folder on Unix, by the XDG base directory rules.

#include "statedir.h"

#include <QDir>

namespace kesto {

QString systemStateFolder()
{
    // Qt 6.4 has no StateLocation; the XDG base directory rules apply.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/kestoide");
}

} // namespace kesto
