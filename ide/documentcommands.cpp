// New, Open, Save, Save As, Exit, the close logic and the Info command.

#include "disk/fileidentity.h"
#include "editorwin.h"
#include "modotworz.h"
#include "modzapisz.h"
#include "platform/sourceeditor.h"

#include <QFileInfo>
#include <QLineEdit>

namespace kesto {

namespace {

// True when the file at `path` is still what the program last read or wrote
// there (`known`), or the user wants it written over all the same.
bool mayWriteOver(Platform &platform, QWidget *parent, const QString &path, const FileIdentity &known)
{
    const FileIdentity now = identityOf(path);
    if (now == known)
        return true;
    const QString what =
        now.exists ? QStringLiteral(" został zmieniony przez inny program po ostatnim otwarciu lub zapisie.")
                   : QStringLiteral(" został usunięty lub przeniesiony po ostatnim otwarciu lub zapisie.");
    return platform.messageBox(parent,
                               QStringLiteral("Plik ") + path + what +
                                   QStringLiteral("\r\r\nCzy mimo to zapisać plik?"),
                               Buttons::OkCancel, Icon::Exclamation, questionTitle,
                               // Enter keeps the other program's work.
                               Button::Cancel) == Button::Ok;
}

// What New and Open add to their report when a Run was waiting for the
// compile of the text they replaced.
QString runCalledOff(bool runWaited)
{
    return runWaited ? QStringLiteral(" (odwołano uruchomienie)") : QString();
}

} // namespace

bool EditorWin::maybeSave()
{
    const Button answer =
        m_platform.messageBox(this,
                              QStringLiteral("Tekst w pliku ") + currentPath() +
                                  QStringLiteral(" zmienił się.\r\r\nCzy chcesz zapisać zmiany?"),
                              Buttons::YesNoCancel, Icon::Exclamation, questionTitle);
    switch (answer) {
    case Button::Yes:
        // Go on only if the text really reached the disk: a cancelled dialog
        // or a failed write must not throw it away.
        return mnuZapisz();
    case Button::No: return true;
    default: return false;
    }
}

void EditorWin::mnuNowy()
{
    if (doc.docChanged && !maybeSave())
        return;
    NowyDoc();
}

void EditorWin::NowyDoc()
{
    const bool runWaited = m_runPending;
    // The text goes first: its change handling marks the document, and the
    // caption and flags below then make it clean again.
    txtEdit->setText(QString());
    adoptFile(untitledName, true);
    diskFile = {};
    doc.docCompiled = false;
    setStatus(QStringLiteral("Utworzono nowy dokument") + runCalledOff(runWaited));
}

void EditorWin::mnuOtworz()
{
    if (doc.docChanged && !maybeSave())
        return;
    dlgPlik.CancelError = true;
    // The path becomes current only once its text is in the editor.
    FileDialog chosen = dlgPlik;
    if (!m_platform.showFileDialog(this, chosen, FileDialog::ShowOpen))
        return;
    loadDocument(chosen.FileName);
}

void EditorWin::openFile(const QString &path)
{
    if (doc.docChanged && !maybeSave())
        return;
    loadDocument(path);
}

void EditorWin::openOrStartFile(const QString &path)
{
    const QFileInfo info(path);
    // A dangling link is no new file: the reader says what is wrong with it.
    if (info.exists() || info.isSymLink() || !QFileInfo(info.absolutePath()).isDir())
        return openFile(path);
    if (doc.docChanged && !maybeSave())
        return;
    const bool runWaited = m_runPending;
    txtEdit->setText(QString());
    adoptFile(path, false);
    diskFile = {}; // no file there yet: the first Save asks nothing
    doc.docCompiled = false;
    setStatus(QStringLiteral("Nowy plik: \"") + path + u'"' + runCalledOff(runWaited));
}

bool EditorWin::loadDocument(const QString &path)
{
    const bool runWaited = m_runPending;
    FileIdentity opened;
    modOtworz::LoadReport report;
    if (!modOtworz::LoadSourceFile(path, *txtEdit, m_platform, this, &opened, &report)) {
        // The box named the file; the status line says why it could not be read.
        if (!report.failure.isEmpty())
            setStatus(QStringLiteral("Nie otworzono: ") + report.failure);
        return false;
    }
    adoptFile(path, false);
    diskFile = opened;
    doc.docCompiled = false;
    setStatus(QStringLiteral("Otworzono plik: \"") + currentPath() + u'"' + modOtworz::readingNote(report) +
              runCalledOff(runWaited));
    return true;
}

bool EditorWin::mnuZapisz()
{
    if (doc.docUntitled)
        return mnuZapiszjako();
    return saveTo(currentPath());
}

bool EditorWin::mnuZapiszjako()
{
    dlgPlik.CancelError = true;
    FileDialog chosen = dlgPlik;
    if (!m_platform.showFileDialog(this, chosen, FileDialog::ShowSave))
        return false;
    return saveTo(chosen.FileName);
}

bool EditorWin::saveTo(const QString &path)
{
    // Writing over the document's own file throws away whatever another
    // program put there since it was read or written: the user decides. The
    // file dialog has asked already about any other existing file.
    if (isDocumentFile(path) && !mayWriteOver(m_platform, this, path, diskFile))
        return false;
    FileIdentity written;
    QString failure;
    if (!modZapisz::SaveSourceFile(path, *txtEdit, m_platform, this, &written, &failure)) {
        if (!failure.isEmpty())
            setStatus(QStringLiteral("Nie zapisano: ") + failure);
        m_saveFailed = !failure.isEmpty();
        return false;
    }
    adoptFile(path, false);
    diskFile = written;
    return true;
}

bool EditorWin::isDocumentFile(const QString &path) const
{
    // A NUL names no file (and QFileInfo would complain of it).
    if (doc.docUntitled || path.contains(QChar(0)))
        return false;
    const QFileInfo chosen(path), current(currentPath());
    return chosen.absoluteFilePath() == current.absoluteFilePath() ||
           (!chosen.canonicalFilePath().isEmpty() &&
            chosen.canonicalFilePath() == current.canonicalFilePath());
}

void EditorWin::adoptFile(const QString &path, bool untitled)
{
    dlgPlik.FileName = path;
    doc.docChanged = false;
    doc.docUntitled = untitled;
    writeCaption();
    dropRecoveryCopy();
}

void EditorWin::mnuZakoncz() { queryClose(doc.exitCancel); }

void EditorWin::queryClose(bool &cancel)
{
    if (!doc.docChanged) {
        endRecovery();
        m_platform.endProcess();
        return;
    }
    setStatus(QStringLiteral("Zamykanie"));
    m_saveFailed = false;
    if (maybeSave()) {
        endRecovery();
        m_platform.endProcess();
        return;
    }
    cancel = true;
    // The reason a save failed stays on the status line: "Zapisano
    // ustawienia" in its place would read as if the text were saved.
    if (m_saveFailed)
        writeSettings();
    else
        saveset();
}

void EditorWin::mnuInf()
{
    // Counted in the control, without copying its text out.
    const qsizetype length = txtEdit->length();
    const qsizetype lines = 1 + txtEdit->breakCount();
    const auto number = [](qsizetype n) { return u' ' + QString::number(n); };
    setStatus(QStringLiteral("Plik: \"") + currentPath() + QStringLiteral("\" Długość: ") + number(length) +
              QStringLiteral(" B, ") + number(lines) + QStringLiteral(" linii ") +
              (doc.docChanged ? QStringLiteral("(niezapisany)") : QStringLiteral("(zapisany)")));
    showxy();
}

} // namespace kesto
