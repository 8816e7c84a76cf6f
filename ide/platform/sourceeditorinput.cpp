// How the editor control takes keys, mouse buttons and drops: only what a
// plain text box does, and every insertion exactly as given.

#include "sourceeditor.h"

#include <Qsci/qscicommandset.h>

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

#include <utility>

namespace kesto {

namespace {

// Whether a key held with these modifiers types its text. Ctrl and Alt make
// commands: an Alt+letter that no menu takes types nothing, as in a plain
// text box. AltGr, which types the Polish letters, is no Alt on X11; on
// Windows it arrives as Ctrl+Alt.
bool typesText(Qt::KeyboardModifiers modifiers)
{
    modifiers &= Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
#ifdef Q_OS_WIN
    if (modifiers == (Qt::ControlModifier | Qt::AltModifier))
        return true;
#endif
    return modifiers == Qt::NoModifier;
}

// The mouse event as the control should see it: with Ctrl or Alt it would
// start a rectangular selection (Ctrl on X11, Alt elsewhere), which a plain
// text box does not have. Shift+click still extends the selection.
QMouseEvent plainMouseEvent(const QMouseEvent &e)
{
    return QMouseEvent(e.type(), e.position(), e.scenePosition(), e.globalPosition(), e.button(), e.buttons(),
                       e.modifiers() & ~(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier),
                       e.pointingDevice());
}

} // namespace

// The control binds dozens of keys that change the text behind the user's
// back (duplicate, cut or swap a line, change case, undo, overtype, indent).
// Both its key map and QScintilla's command set, which a newer version could
// fill anew, start empty here and get only the keys of a plain text box.
// Tab and the clipboard keys are handled in keyPressEvent().
void SourceEditor::bindPlainTextKeys()
{
    QsciCommandSet *commands = standardCommands();
    commands->clearKeys();
    commands->clearAlternateKeys();
    SendScintilla(SCI_CLEARALLCMDKEYS);
    using C = QsciCommand;
    const Qt::KeyboardModifier shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
    // Ctrl+Up and Ctrl+Down move the caret as Up and Down do.
    const std::pair<C::Command, QKeyCombination> bindings[] = {
        {C::CharLeft, Qt::Key_Left},
        {C::CharLeftExtend, shift | Qt::Key_Left},
        {C::CharRight, Qt::Key_Right},
        {C::CharRightExtend, shift | Qt::Key_Right},
        {C::LineUp, Qt::Key_Up},
        {C::LineUp, ctrl | Qt::Key_Up},
        {C::LineUpExtend, shift | Qt::Key_Up},
        {C::LineUpExtend, ctrl | shift | Qt::Key_Up},
        {C::LineDown, Qt::Key_Down},
        {C::LineDown, ctrl | Qt::Key_Down},
        {C::LineDownExtend, shift | Qt::Key_Down},
        {C::LineDownExtend, ctrl | shift | Qt::Key_Down},
        {C::WordLeft, ctrl | Qt::Key_Left},
        {C::WordLeftExtend, ctrl | shift | Qt::Key_Left},
        {C::WordRight, ctrl | Qt::Key_Right},
        {C::WordRightExtend, ctrl | shift | Qt::Key_Right},
        {C::Home, Qt::Key_Home},
        {C::HomeExtend, shift | Qt::Key_Home},
        {C::LineEnd, Qt::Key_End},
        {C::LineEndExtend, shift | Qt::Key_End},
        {C::DocumentStart, ctrl | Qt::Key_Home},
        {C::DocumentStartExtend, ctrl | shift | Qt::Key_Home},
        {C::DocumentEnd, ctrl | Qt::Key_End},
        {C::DocumentEndExtend, ctrl | shift | Qt::Key_End},
        {C::PageUp, Qt::Key_PageUp},
        {C::PageUpExtend, shift | Qt::Key_PageUp},
        {C::PageDown, Qt::Key_PageDown},
        {C::PageDownExtend, shift | Qt::Key_PageDown},
        {C::DeleteBack, Qt::Key_Backspace},
        {C::DeleteBack, shift | Qt::Key_Backspace},
        {C::Delete, Qt::Key_Delete},
        {C::Newline, Qt::Key_Return},
        {C::Newline, shift | Qt::Key_Return},
    };
    for (const auto &[command, key] : bindings) {
        if (QsciCommand *c = commands->find(command)) {
            if (c->key() == 0)
                c->setKey(key.toCombined());
            else
                c->setAlternateKey(key.toCombined());
        }
    }
}

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
    } else if (e->key() == Qt::Key_Backspace && (e->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
        // The undo key of the plain text box the lab's editor was, where
        // Ctrl+Z is Save As: the same undo as the right-click menu's.
        undo();
    } else if (e->key() == Qt::Key_Tab && !(e->modifiers() & ~Qt::KeypadModifier)) {
        // One tab in place of the selection; the control would indent every
        // line of a selection that spans lines.
        setSelText(QStringLiteral("\t"));
    } else if (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab ||
               (!e->text().isEmpty() && !typesText(e->modifiers()))) {
        // Nothing happens to the text: Shift+Tab would take indentation away,
        // and Ctrl or Alt with a character key is a command key that the
        // window does not have.
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
    menu.addAction(tr("&Cofnij"), this, &SourceEditor::undo)->setEnabled(canUndo());
    menu.addSeparator();
    menu.addAction(tr("Wy&tnij"), this, &SourceEditor::cutRequested)->setEnabled(hasSelection);
    menu.addAction(tr("&Kopiuj"), this, &SourceEditor::copyRequested)->setEnabled(hasSelection);
    menu.addAction(tr("&Wklej"), this, &SourceEditor::pasteRequested);
    menu.addAction(tr("&Usuń"), this, &SourceEditor::deleteRequested)->setEnabled(hasSelection);
    menu.addSeparator();
    menu.addAction(tr("Zaznacz w&szystko"), this, &SourceEditor::selectAllRequested);
    menu.exec(e->globalPos());
}

void SourceEditor::mousePressEvent(QMouseEvent *e)
{
    if (e->button() == Qt::MiddleButton) {
        // The control would paste the X selection itself, turning its line
        // breaks into CR LF.
        setFocus(Qt::MouseFocusReason);
        const QPoint at = e->position().toPoint();
        const long pos = SendScintilla(SCI_POSITIONFROMPOINT, static_cast<unsigned long>(at.x()), at.y());
        emit selectionPasteRequested(toChar(pos));
        e->accept();
        return;
    }
    QMouseEvent plain = plainMouseEvent(*e);
    QsciScintilla::mousePressEvent(&plain);
}

void SourceEditor::mouseMoveEvent(QMouseEvent *e)
{
    QMouseEvent plain = plainMouseEvent(*e);
    QsciScintilla::mouseMoveEvent(&plain);
}

void SourceEditor::mouseReleaseEvent(QMouseEvent *e)
{
    QMouseEvent plain = plainMouseEvent(*e);
    QsciScintilla::mouseReleaseEvent(&plain);
}

void SourceEditor::mouseDoubleClickEvent(QMouseEvent *e)
{
    QMouseEvent plain = plainMouseEvent(*e);
    QsciScintilla::mouseDoubleClickEvent(&plain);
}

namespace {

// A drag that carries URLs (files from a file manager) is taken as a copy,
// so the pointer shows that it may be dropped and the file manager never
// deletes the file afterwards, as it would after a move; the window opens
// them. A drag that offers only a move is refused.
bool takeUrlsAsCopy(QDropEvent *e)
{
    if (!(e->possibleActions() & Qt::CopyAction)) {
        e->ignore();
        return false;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
    return true;
}

} // namespace

void SourceEditor::dragEnterEvent(QDragEnterEvent *e)
{
    if (e->mimeData()->hasUrls())
        takeUrlsAsCopy(e);
    else
        QsciScintilla::dragEnterEvent(e);
}

void SourceEditor::dragMoveEvent(QDragMoveEvent *e)
{
    if (e->mimeData()->hasUrls())
        takeUrlsAsCopy(e);
    else
        QsciScintilla::dragMoveEvent(e);
}

void SourceEditor::dropEvent(QDropEvent *e)
{
    // The control's marker of the drop point goes first, whatever comes.
    QDragLeaveEvent leave;
    QsciScintilla::dragLeaveEvent(&leave);
    const QMimeData *data = e->mimeData();
    if (data->hasUrls()) {
        if (takeUrlsAsCopy(e))
            emit urlsDropped(data->urls());
        return;
    }
    if (!data->hasText()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
    dropText(e);
}

// The control's own drop turns every line break of the dropped text into
// CR LF; this one inserts the text as it is, the way Paste does.
void SourceEditor::dropText(QDropEvent *e)
{
    const QPoint point = e->position().toPoint();
    long at = SendScintilla(SCI_POSITIONFROMPOINT, static_cast<unsigned long>(point.x()), point.y());
    const long from = SendScintilla(SCI_GETSELECTIONSTART);
    const long to = SendScintilla(SCI_GETSELECTIONEND);
    // Text dragged out of this editor moves, unless Ctrl made the drag a copy.
    const bool ownText = e->source() == this;
    const bool move = ownText && e->dropAction() == Qt::MoveAction;
    if (ownText && at >= from && at <= to && (move || (at > from && at < to)))
        return; // dropped onto itself
    // One step for the context menu's undo, and one change when the dropped
    // text is in place and selected, as other text boxes leave it.
    SendScintilla(SCI_BEGINUNDOACTION);
    if (move) {
        replaceRange(from, to, QString());
        if (at > to)
            at -= to - from;
    }
    const long end = replaceRange(at, at, e->mimeData()->text());
    SendScintilla(SCI_ENDUNDOACTION);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(at), end);
    signalChanges();
}

} // namespace kesto
