// Compile starts the assembler, Run starts the run tool. Neither waits for
// its tool: the lab's tools report to the student themselves.

#include "editorwin.h"

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
    if (!m_platform.startProcess(doc.appDir + QStringLiteral("ruderari.exe"), {source},
                                 WindowState::NormalFocused)) {
        m_platform.messageBox(this,
                              QStringLiteral("Brak pliku RUDERARI.EXE w katalogu z programem KESTO IDE!!!"),
                              Buttons::Ok, Icon::Exclamation, appTitle);
        return;
    }
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
    if (!m_platform.startProcess(doc.appDir + QStringLiteral("zozevadi.exe"),
                                 {u'/' + doc.comPort, doc.hexFile}, WindowState::MinimizedNoFocus)) {
        m_platform.messageBox(this,
                              QStringLiteral("Brak pliku ZOZEVADI.EXE w katalogu z programem KESTO IDE!!!"),
                              Buttons::Ok, Icon::Exclamation, appTitle);
    }
}

} // namespace kesto
