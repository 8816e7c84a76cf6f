// Compile starts the assembler, Run starts the run tool. Neither waits for
// its tool: each runs in a window of its own, which shows what the tool
// printed and how it ended (toollaunch.h).

#include "editorwin.h"
#include "toollaunch.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <algorithm>

namespace kesto {

namespace {

// The source path with the extension of its file name replaced by ".hex"
// (or ".hex" appended when the name has none).
QString hexFileFor(const QString &source)
{
#ifdef Q_OS_WIN
    const qsizetype separator = std::max(source.lastIndexOf(u'/'), source.lastIndexOf(u'\\'));
#else
    // Only "/" separates folders here: a backslash is part of a file name.
    const qsizetype separator = source.lastIndexOf(u'/');
#endif
    const qsizetype dot = source.lastIndexOf(u'.');
    return (dot > separator ? source.left(dot) : source) + QStringLiteral(".hex");
}

// The toolchain's questions: OK goes on, Cancel (or closing the box) does not.
bool askOk(Platform &platform, QWidget *parent, const QString &text)
{
    return platform.messageBox(parent, text, Buttons::OkCancel, Icon::Exclamation, questionTitle) ==
           Button::Ok;
}

} // namespace

bool EditorWin::startTool(const ToolRequest &request, const QString &missingText)
{
    const ToolLaunch launch = planToolLaunch(doc.appDir, request, findToolHost());
    const auto tell = [&](const QString &text, const QString &informative = {}) {
        m_platform.messageBox(this, text, Buttons::Ok, Icon::Exclamation, appTitle, std::nullopt,
                              informative);
        return false;
    };
    switch (launch.outcome) {
    case ToolLaunch::Missing:
        // The folder it looked in: the program's own, wherever that was installed.
        return tell(missingText, QStringLiteral("Program szukał go w katalogu: ") +
                                     QDir::toNativeSeparators(QDir::cleanPath(doc.appDir)));
    case ToolLaunch::CannotStart: break;
    case ToolLaunch::Start:
        if (m_platform.startProcess(launch.program, launch.arguments, request.state))
            return true;
        return tell(QStringLiteral("Nie można uruchomić pliku \"") + launch.toolPath +
                    QStringLiteral("\": system nie uruchomił programu ") + launch.program);
    }
    return tell(QStringLiteral("Nie można uruchomić pliku \"") + launch.toolPath + QStringLiteral("\": ") +
                launch.reason);
}

void EditorWin::mnuKompiluj()
{
    if (doc.docChanged) {
        if (!askOk(m_platform, this,
                   QStringLiteral("Tekst w pliku ") + currentPath() +
                       QStringLiteral(" zmienił się.\r\r\nCzy chcesz zapisać zmiany i skompilować?")))
            return;
        // A save that did not happen (dialog cancelled, write failed) leaves
        // nothing on disk worth compiling.
        if (!mnuZapisz())
            return;
    }
    Skompiluj();
}

void EditorWin::Skompiluj()
{
    const QString source = currentPath();
    setStatus(QStringLiteral("Kompilacja pliku \"") + source + u'"');
    // No shell: the source path reaches the assembler as one argument,
    // whatever blanks or shell characters it holds.
    const ToolRequest request{QStringLiteral("ruderari.exe"),
                              {source},
                              {0},
                              QStringLiteral("Kompilacja pliku ") + QFileInfo(source).fileName(),
                              WindowState::NormalFocused};
    if (!startTool(request, QStringLiteral("Brak pliku RUDERARI.EXE w katalogu z programem KESTO IDE!!!")))
        return;
    doc.hexFile = hexFileFor(source);
    doc.docCompiled = true;
}

void EditorWin::mnuUruchom()
{
    // Offer to compile until a compile has happened or the user declines.
    while (!doc.docCompiled) {
        if (!askOk(m_platform, this,
                   QStringLiteral("Program ") + currentPath() +
                       QStringLiteral(
                           " nie został skompilowany lub zmienił się.\r\r\nCzy chcesz go skompilować?")))
            return;
        mnuKompiluj();
    }
    setStatus(QStringLiteral("Uruchomienie pliku \"") + currentPath() + u'"');
    // The port is no path: "/3" reaches a Windows tool under Wine as it is.
    const ToolRequest request{QStringLiteral("zozevadi.exe"),
                              {u'/' + doc.comPort, doc.hexFile},
                              {1},
                              QStringLiteral("Uruchomienie pliku ") + QFileInfo(currentPath()).fileName(),
                              WindowState::MinimizedNoFocus};
    startTool(request, QStringLiteral("Brak pliku ZOZEVADI.EXE w katalogu z programem KESTO IDE!!!"));
}

} // namespace kesto
