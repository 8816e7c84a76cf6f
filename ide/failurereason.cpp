#include "failurereason.h"
#include "failurereason_p.h"

#include <QFileInfo>

namespace kesto {

namespace {

QString systemText(int error)
{
    return error != 0 ? qt_error_string(error) : QStringLiteral("nieznana przyczyna");
}

// What the path names now explains many failures, whatever the error was.
QString fromState(const QString &path, bool saving)
{
    const QFileInfo info(path);
    if (path.isEmpty() || path.contains(QChar(0)))
        return systemText(systemError::badName);
    if (QString known = failure::fromName(info); !known.isEmpty())
        return known;
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("brak katalogu");
    if (info.isDir())
        return systemText(systemError::isDirectory);
    if (info.exists() && !info.isFile())
        return QStringLiteral("to nie jest zwykły plik");
    return saving ? failure::fromWriteState(path, info) : QString();
}

QString reason(const QString &path, int error, bool saving)
{
    if (QString known = failure::fromError(error); !known.isEmpty())
        return known;
    if (QString known = fromState(path, saving); !known.isEmpty())
        return known;
    if (failure::deniesAccess(error))
        return QStringLiteral("brak uprawnień");
    return systemText(error);
}

} // namespace

QString whyNotOpened(const QString &path, int error) { return reason(path, error, false); }

QString whyNotSaved(const QString &path, int error) { return reason(path, error, true); }

} // namespace kesto
