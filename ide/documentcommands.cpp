// New, Open, Save, Save As, Exit, the close logic and the Info command.

#include "editorwin.h"
#include "modotworz.h"
#include "modzapisz.h"
#include "platform/fileidentity.h"
#include "platform/sourceeditor.h"

#include <QLineEdit>

namespace kesto {

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
    // The text goes first: its change handling marks the document, and the
    // caption and flags below then make it clean again.
    txtEdit->setText(QString());
    adoptFile(untitledName, true);
    diskFile = {};
    doc.docCompiled = false;
    setStatus(QStringLiteral("Utworzono nowy dokument"));
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

bool EditorWin::loadDocument(const QString &path)
{
    FileIdentity opened;
    if (!modOtworz::LoadSourceFile(path, *txtEdit, m_platform, this, &opened))
        return false;
    adoptFile(path, false);
    diskFile = opened;
    doc.docCompiled = false;
    setStatus(QStringLiteral("Otworzono plik: \"") + currentPath() + u'"');
    return true;
}

bool EditorWin::mnuZapisz()
{
    if (doc.docUntitled)
        return mnuZapiszjako();
    if (!modZapisz::SaveSourceFile(currentPath(), *txtEdit, m_platform, this))
        return false;
    adoptFile(currentPath(), false);
    diskFile = identityOf(currentPath());
    return true;
}

bool EditorWin::mnuZapiszjako()
{
    dlgPlik.CancelError = true;
    FileDialog chosen = dlgPlik;
    if (!m_platform.showFileDialog(this, chosen, FileDialog::ShowSave))
        return false;
    if (!modZapisz::SaveSourceFile(chosen.FileName, *txtEdit, m_platform, this))
        return false;
    adoptFile(chosen.FileName, false);
    diskFile = identityOf(chosen.FileName);
    return true;
}

void EditorWin::adoptFile(const QString &path, bool untitled)
{
    dlgPlik.FileName = path;
    writeCaption();
    doc.docChanged = false;
    doc.docUntitled = untitled;
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
    if (maybeSave()) {
        endRecovery();
        m_platform.endProcess();
        return;
    }
    cancel = true;
    saveset();
}

void EditorWin::mnuInf()
{
    // Counted in the control, without copying its text out.
    const qsizetype length = txtEdit->length();
    const qsizetype lines = 1 + txtEdit->crCount();
    const auto number = [](qsizetype n) { return u' ' + QString::number(n); };
    setStatus(QStringLiteral("Plik: \"") + currentPath() + QStringLiteral("\" Długość: ") + number(length) +
              QStringLiteral(" B, ") + number(lines) + QStringLiteral(" linii ") +
              (doc.docChanged ? QStringLiteral("(niezapisany)") : QStringLiteral("(zapisany)")));
    showxy();
}

} // namespace kesto
