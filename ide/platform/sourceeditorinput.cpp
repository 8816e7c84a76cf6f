// How the editor control takes keys and its right-click menu.

#include "sourceeditor.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace kesto {

void SourceEditor::setWindowShortcuts(const QList<QKeySequence> &keys) { m_windowShortcuts = keys; }

bool SourceEditor::event(QEvent *e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        auto *ke = static_cast<QKeyEvent *>(e);
        if (m_windowShortcuts.contains(QKeySequence(ke->keyCombination()))) {
            // Not claimed: the window's shortcut runs instead of the control's binding.
            e->ignore();
            return true;
        }
    }
    const bool handled = QsciScintilla::event(e);
    signalChanges();
    return handled;
}

void SourceEditor::keyPressEvent(QKeyEvent *e)
{
    // The control's own clipboard keys (Shift+Delete, Shift+Insert, Ctrl+Insert
    // and the like) go through the window's commands, so line breaks stay
    // exact and the change handling runs.
    if (e->matches(QKeySequence::Cut)) {
        emit cutRequested();
    } else if (e->matches(QKeySequence::Copy)) {
        emit copyRequested();
    } else if (e->matches(QKeySequence::Paste)) {
        emit pasteRequested();
    } else if (e->matches(QKeySequence::SelectAll)) {
        emit selectAllRequested();
    } else if (e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo)) {
        // Ctrl+Z belongs to the window; the control never sees it as undo.
    } else {
        QsciScintilla::keyPressEvent(e);
        return;
    }
    e->accept();
}

void SourceEditor::keyReleaseEvent(QKeyEvent *e)
{
    QsciScintilla::keyReleaseEvent(e);
    emit keyReleased();
}

void SourceEditor::contextMenuEvent(QContextMenuEvent *e)
{
    const bool hasSelection = SendScintilla(SCI_GETSELECTIONEMPTY) == 0;
    QMenu menu(this);
    menu.addAction(tr("&Cofnij"), this, &QsciScintilla::undo)->setEnabled(isUndoAvailable());
    menu.addSeparator();
    menu.addAction(tr("Wy&tnij"), this, &SourceEditor::cutRequested)->setEnabled(hasSelection);
    menu.addAction(tr("&Kopiuj"), this, &SourceEditor::copyRequested)->setEnabled(hasSelection);
    menu.addAction(tr("&Wklej"), this, &SourceEditor::pasteRequested);
    menu.addAction(tr("&Usuń"), this, &SourceEditor::deleteRequested)->setEnabled(hasSelection);
    menu.addSeparator();
    menu.addAction(tr("Zaznacz w&szystko"), this, &SourceEditor::selectAllRequested);
    menu.exec(e->globalPos());
}

} // namespace kesto
