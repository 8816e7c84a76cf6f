// Compile starts the assembler, Run starts the run tool, each in a window of
// its own that shows what the tool printed (toollaunch.h). The window never
// waits for them, but it learns how each ended: Run sends only the program
// of a compile that ended well, waiting for it when it still runs, and a
// failed compile takes the student to the line it names.

#include "compileoutput.h"
#include "editorwin.h"
#include "platform/sourceeditor.h"
#include "toollaunch.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

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

QString quoted(const QString &path) { return u'"' + QFileInfo(path).fileName() + u'"'; }

// The toolchain's questions: OK goes on, Cancel (or closing the box) does
// not; Enter answers `safe` where it is not the box's usual OK.
bool askOk(Platform &platform, QWidget *parent, const QString &text,
           std::optional<Button> safe = std::nullopt)
{
    return platform.messageBox(parent, text, Buttons::OkCancel, Icon::Exclamation, questionTitle, safe) ==
           Button::Ok;
}

// Why a compile gives no program to send, as the question before a Run
// says it; empty when it gave one.
QString compileDoubt(const CompileJob &job)
{
    const QString compile = QStringLiteral("Kompilacja pliku ") + job.source;
    switch (job.end.kind) {
    case ToolEnd::Exited:
        if (job.end.code != 0)
            return compile + QStringLiteral(" zakończyła się kodem ") + QString::number(job.end.code) + u'.';
        return job.hexWritten ? QString()
                              : compile + QStringLiteral(" nie zapisała pliku ") + job.hexFile + u'.';
    case ToolEnd::Interrupted:
        return compile + QStringLiteral(" została przerwana (") + job.end.detail + ").";
    case ToolEnd::NotStarted:
        return compile + QStringLiteral(" nie rozpoczęła się (") + job.end.detail + ").";
    case ToolEnd::Unknown: break;
    }
    return compile + QStringLiteral(" nie wiadomo jak się zakończyła.");
}

// How a run ended, for the status line; empty for a good end.
QString runFailure(const ToolEnd &end, const QString &source)
{
    switch (end.kind) {
    case ToolEnd::Exited:
        return end.code == 0 ? QString()
                             : QStringLiteral("Błąd uruchomienia (kod ") + QString::number(end.code) +
                                   QStringLiteral("): komunikaty są w oknie programu zozevadi.exe");
    case ToolEnd::Interrupted: return QStringLiteral("Uruchomienie przerwane (") + end.detail + u')';
    case ToolEnd::NotStarted: return QStringLiteral("Nie uruchomiono programu zozevadi.exe: ") + end.detail;
    case ToolEnd::Unknown: break;
    }
    return QStringLiteral("Nie wiadomo, jak zakończyło się uruchomienie pliku ") + quoted(source);
}

} // namespace

bool EditorWin::startTool(ToolRequest request, const QString &missingText,
                          std::function<void(const ToolEnd &)> ended)
{
    request.report = m_platform.watchTool(std::move(ended));
    const ToolLaunch launch = planToolLaunch(doc.appDir, request, findToolHost());
    const auto tell = [&](const QString &text, const QString &informative = {}) {
        m_platform.unwatchTool(request.report);
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
    CompileJob job;
    job.id = QString::number(++m_toolStarts);
    job.source = source;
    job.hexFile = hexFileFor(source);
    // What the hex file is before the assembler may touch it.
    job.hexBefore = takeHexSnapshot(job.hexFile);
    job.textVersion = m_textVersion;
    job.caret = txtEdit->selStart();
    job.selection = txtEdit->selLength();
    // No shell: the source path reaches the assembler as one argument,
    // whatever blanks or shell characters it holds.
    ToolRequest request{QStringLiteral("ruderari.exe"),
                        {source},
                        {0},
                        QStringLiteral("Kompilacja pliku ") + QFileInfo(source).fileName(),
                        WindowState::NormalFocused,
                        {},
                        true};
    if (!startTool(request, QStringLiteral("Brak pliku RUDERARI.EXE w katalogu z programem KESTO IDE!!!"),
                   // A report may come after the window has gone (in tests, which make many).
                   [window = QPointer<EditorWin>(this), id = job.id](const ToolEnd &end) {
                       if (window)
                           window->compileEnded(id, end);
                   }))
        return;
    doc.hexFile = job.hexFile;
    doc.docCompiled = true;
    // Only the latest compile counts.
    m_compile = std::move(job);
}

void EditorWin::compileEnded(const QString &id, const ToolEnd &end)
{
    if (!m_compile || m_compile->id != id)
        return;
    CompileJob &job = *m_compile;
    job.running = false;
    job.end = end;
    job.hexWritten = hexRewritten(job.hexBefore, job.hexFile);
    const bool textAsCompiled = job.textVersion == m_textVersion;
    const QString hexName = quoted(job.hexFile);
    QString status;
    switch (end.kind) {
    case ToolEnd::Exited:
        if (end.code == 0) {
            status =
                job.hexWritten
                    ? QStringLiteral("Skompilowano plik ") + quoted(job.source)
                    : QStringLiteral("Asembler zakończył pracę z kodem 0, ale nie zapisał pliku ") + hexName;
            break;
        }
        status = QStringLiteral("Błąd kompilacji (kod ") + QString::number(end.code) + QStringLiteral("): ");
        if (const auto named = findSourceLine(end.printed, job.source, txtEdit->breakCount() + 1)) {
            status += named->text;
            // Only where the student has not gone on meanwhile.
            if (textAsCompiled && txtEdit->selStart() == job.caret && txtEdit->selLength() == job.selection) {
                txtEdit->setSelStart(txtEdit->lineStart(named->line));
                showxy();
            }
        } else {
            status += QStringLiteral("komunikaty asemblera są w jego oknie");
        }
        break;
    case ToolEnd::Interrupted: status = QStringLiteral("Kompilacja przerwana (") + end.detail + u')'; break;
    case ToolEnd::NotStarted: status = QStringLiteral("Nie uruchomiono asemblera: ") + end.detail; break;
    case ToolEnd::Unknown:
        status = QStringLiteral("Nie wiadomo, jak zakończyła się kompilacja pliku ") + quoted(job.source);
        break;
    }
    setStatus(status);
    if (m_runPending) {
        m_runPending = false;
        runWhenNoBoxIsOpen();
    }
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
    if (m_compile && m_compile->running) {
        // One Run waits, however often it is asked for; the editor stays free.
        m_runPending = true;
        setStatus(QStringLiteral("Uruchomienie pliku \"") + currentPath() +
                  QStringLiteral("\" czeka na koniec kompilacji"));
        return;
    }
    runCompiled();
}

void EditorWin::runWhenNoBoxIsOpen()
{
    // The compile ended while a box or dialog of the student's is open: the
    // Run's question waits until it closes, rather than stand on top of it.
    if (QApplication::activeModalWidget()) {
        m_runPending = true;
        QTimer::singleShot(100, this, [this] {
            if (m_runPending && m_compile && !m_compile->running) {
                m_runPending = false;
                runWhenNoBoxIsOpen();
            }
        });
        return;
    }
    runCompiled();
}

void EditorWin::runCompiled()
{
    // No program of the latest compile, or an unknown one: the student may
    // still send the file (the lab assembler's codes are not known), but
    // never without being told.
    const QString doubt = m_compile ? compileDoubt(*m_compile)
                                    : QStringLiteral("Kompilacja pliku ") + currentPath() +
                                          QStringLiteral(" nie wiadomo jak się zakończyła.");
    if (!doubt.isEmpty() &&
        !askOk(m_platform, this, doubt + QStringLiteral("\r\r\nCzy mimo to uruchomić program?"),
               Button::Cancel))
        return;
    const QString source = currentPath();
    setStatus(QStringLiteral("Uruchomienie pliku \"") + source + u'"');
    m_runId = QString::number(++m_toolStarts);
    // The port is no path: "/3" reaches a Windows tool under Wine as it is.
    const ToolRequest request{QStringLiteral("zozevadi.exe"),
                              {u'/' + doc.comPort, doc.hexFile},
                              {1},
                              QStringLiteral("Uruchomienie pliku ") + QFileInfo(source).fileName(),
                              WindowState::MinimizedNoFocus,
                              {},
                              false};
    startTool(request, QStringLiteral("Brak pliku ZOZEVADI.EXE w katalogu z programem KESTO IDE!!!"),
              [window = QPointer<EditorWin>(this), id = m_runId, source](const ToolEnd &end) {
                  // Only the latest Run speaks; a good one leaves the status line as it
                  // is. A failed one's window, minimised on the taskbar where a student
                  // rarely looks, is shown with its messages.
                  if (!window || (end.kind == ToolEnd::Exited && end.code == 0))
                      return;
                  window->m_platform.showToolWindow(end.window);
                  if (window->m_runId == id)
                      window->setStatus(runFailure(end, source));
              });
}

bool EditorWin::dropPendingRun()
{
    if (!m_runPending)
        return false;
    m_runPending = false;
    return true;
}

} // namespace kesto
