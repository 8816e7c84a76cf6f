#include "toollaunch.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>

#ifndef Q_OS_WIN
#include <clocale>
#include <locale.h>
#endif

namespace kesto {

namespace {

// The helper beside the program (runner/runner.h).
#ifdef Q_OS_WIN
const QString helperName = QStringLiteral("kestoide-run.exe");
#else
const QString helperName = QStringLiteral("kestoide-run");
#endif

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The helper's own arguments: the console's title (Windows), when it waits
// for Enter, whether the tool goes through Wine and in which locale, where
// it reports, and the tool's command line after "--".
QStringList helperArguments(const QString &toolPath, const ToolRequest &request, bool throughWine,
                            const QString &wineLocale)
{
    QStringList args;
#ifdef Q_OS_WIN
    args << QStringLiteral("--title") << request.title;
#endif
    args << (request.state == WindowState::NormalFocused ? QStringLiteral("--always")
                                                         : QStringLiteral("--on-failure"));
    if (throughWine) {
        args << QStringLiteral("--wine");
        for (const qsizetype i : request.pathArguments)
            args << QStringLiteral("--path") << QString::number(i + 1);
        if (!wineLocale.isEmpty())
            args << QStringLiteral("--locale") << wineLocale;
    }
    if (!request.report.server.isEmpty()) {
        args << QStringLiteral("--report") << request.report.server << QStringLiteral("--id")
             << request.report.id;
        if (request.sendOutput)
            args << QStringLiteral("--output");
    }
    return args << QStringLiteral("--") << toolPath << request.arguments;
}

#ifndef Q_OS_WIN
// Windows-1252, the code page Wine takes outside the locales below, lacks
// most Polish letters: a path that holds one reaches an ANSI program with
// the nearest Latin letter in its place, and names no file.
bool beyondWindows1252(const QString &text)
{
    static const QString extras = QStringLiteral("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ");
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() >= 0x80 && c.unicode() < 0xA0) || (c.unicode() > 0xFF && !extras.contains(c));
    });
}

// The first generated locale whose Windows code page is 1250.
QString findWineLocale()
{
    for (const char *name : {"pl_PL.UTF-8", "pl_PL.utf8", "cs_CZ.UTF-8", "sk_SK.UTF-8", "hu_HU.UTF-8",
                             "sl_SI.UTF-8", "hr_HR.UTF-8"}) {
        if (const locale_t found = newlocale(LC_ALL_MASK, name, locale_t(nullptr))) {
            freelocale(found);
            return QString::fromLatin1(name);
        }
    }
    return {};
}
#endif

} // namespace

ToolHost findToolHost()
{
    ToolHost host;
#ifndef Q_OS_WIN
    host.terminal = QStandardPaths::findExecutable(QStringLiteral("xterm"));
    host.wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    // Debian's `wine` runs 32-bit programs through the loader that
    // wine32:i386 puts beside the 64-bit one.
    if (!host.wine.isEmpty()) {
        host.wine32 =
            isExecutableFile(QFileInfo(host.wine).canonicalPath() + QStringLiteral("/../lib/wine/wine"));
        host.wineLocale = findWineLocale();
    }
#endif
    return host;
}

ToolFile inspectToolFile(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return ToolFile::Missing;
    // A Windows program starts with the DOS header "MZ", whose field at 0x3C
    // points to the "PE" header; the machine follows that signature. A
    // header with no PE part is a DOS program's.
    QByteArray head;
    if (file.open(QIODevice::ReadOnly))
        head = file.read(64);
    if (!head.startsWith("MZ"))
        return QFileInfo(path).isExecutable() ? ToolFile::Native : ToolFile::NotExecutable;
    if (head.size() < 64)
        return ToolFile::Dos;
    const quint32 peAt = qFromLittleEndian<quint32>(head.constData() + 0x3C);
    QByteArray pe;
    if (peAt >= 64 && file.seek(peAt))
        pe = file.read(6);
    if (pe.size() < 6 || !pe.startsWith(QByteArray("PE\0\0", 4)))
        return ToolFile::Dos;
    constexpr quint16 machineI386 = 0x14C;
    return qFromLittleEndian<quint16>(pe.constData() + 4) == machineI386 ? ToolFile::Windows32
                                                                         : ToolFile::Windows64;
}

ToolLaunch planToolLaunch(const QString &appDir, const ToolRequest &request,
                          [[maybe_unused]] const ToolHost &host)
{
    ToolLaunch launch;
    launch.toolPath = appDir + request.tool;
    const QString helper = appDir + helperName;
    const QString noHelper =
        QStringLiteral("brak programu pomocniczego ") + helperName + QStringLiteral(" w katalogu programu");
    const auto cannot = [&launch](const QString &reason) {
        launch.outcome = ToolLaunch::CannotStart;
        launch.reason = reason;
        return launch;
    };
#ifdef Q_OS_WIN
    // Windows starts whatever is there; the helper tells in its console if it cannot.
    if (!QFileInfo(launch.toolPath).isFile())
        return launch;
    if (!isExecutableFile(helper))
        return cannot(noHelper);
    launch.outcome = ToolLaunch::Start;
    launch.program = helper;
    launch.arguments = helperArguments(launch.toolPath, request, false, {});
    return launch;
#else
    bool throughWine = false;
    switch (inspectToolFile(launch.toolPath)) {
    case ToolFile::Missing: return launch;
    case ToolFile::NotExecutable: return cannot(QStringLiteral("brak prawa do wykonania"));
    case ToolFile::Dos: return cannot(QStringLiteral("to program DOS — Wine go nie uruchomi"));
    case ToolFile::Windows32:
        if (!host.wine.isEmpty() && !host.wine32)
            return cannot(QStringLiteral("to 32-bitowy program Windows — zainstaluj pakiet wine32:i386"));
        [[fallthrough]];
    case ToolFile::Windows64:
        if (host.wine.isEmpty())
            return cannot(QStringLiteral("to program Windows — zainstaluj pakiet wine"));
        throughWine = true;
        break;
    case ToolFile::Native: break;
    }
    if (!isExecutableFile(helper))
        return cannot(noHelper);
    if (throughWine && host.wineLocale.isEmpty()) {
        for (const qsizetype i : request.pathArguments) {
            if (i < request.arguments.size() && beyondWindows1252(request.arguments.at(i)))
                return cannot(QStringLiteral("ścieżka \"") + request.arguments.at(i) +
                              QStringLiteral("\" ma litery, których Wine nie przekaże programowi Windows — "
                                             "wygeneruj locale pl_PL.UTF-8 (sudo dpkg-reconfigure locales)"));
        }
    }
    if (host.terminal.isEmpty())
        return cannot(QStringLiteral("brak programu xterm — zainstaluj pakiet xterm"));
    // xterm's -e takes the words after it as the program and its arguments:
    // no shell. Its own bitmap font may lack the Polish letters; the
    // fixed-pitch font of fontconfig has them.
    launch.outcome = ToolLaunch::Start;
    launch.program = host.terminal;
    launch.arguments = QStringList{QStringLiteral("-T"), request.title};
    if (request.state == WindowState::MinimizedNoFocus)
        launch.arguments << QStringLiteral("-iconic");
    launch.arguments << QStringLiteral("-fa") << QStringLiteral("Monospace") << QStringLiteral("-fs")
                     << QStringLiteral("10") << QStringLiteral("-e") << helper
                     << helperArguments(launch.toolPath, request, throughWine, host.wineLocale);
    return launch;
#endif
}

} // namespace kesto
