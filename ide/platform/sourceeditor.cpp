#include "sourceeditor.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>
#include <cstring>

namespace {
constexpr int utf16Index = QsciScintillaBase::SC_LINECHARACTERINDEX_UTF16;

// Counts CR bytes in [data, data + n).
qsizetype countCr(const char *data, std::size_t n)
{
    qsizetype count = 0;
    const char *end = data + n;
    while (data < end) {
        const void *hit = std::memchr(data, '\r', static_cast<std::size_t>(end - data));
        if (!hit)
            break;
        ++count;
        data = static_cast<const char *>(hit) + 1;
    }
    return count;
}
} // namespace

SourceEditor::SourceEditor(QWidget *parent) : QsciScintilla(parent)
{
    setUtf8(true);
    setWrapMode(WrapNone);
    setMarginWidth(0, 0);
    setMarginWidth(1, 0);
    setMarginWidth(2, 0);
    setEolMode(EolWindows);
    SendScintilla(SCI_SETPASTECONVERTENDINGS, 0UL);
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
    SendScintilla(SCI_SETHSCROLLBAR, 1L);
    SendScintilla(SCI_SETVSCROLLBAR, 1L);
    SendScintilla(SCI_ALLOCATELINECHARACTERINDEX, static_cast<unsigned long>(utf16Index));

    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char *, int length, int, int, int, int, int, int) {
                onModified(position, type, length);
            });
}

char SourceEditor::byteAt(long pos) const
{
    return static_cast<char>(SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(pos)));
}

// Lone LFs at byte positions first..last (inclusive, clipped to the text).
qsizetype SourceEditor::loneLfIn(long first, long last) const
{
    const long size = SendScintilla(SCI_GETLENGTH);
    first = std::max(first, 0L);
    last = std::min(last, size - 1);
    if (first > last)
        return 0;
    const auto *p = reinterpret_cast<const char *>(
        SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(first), last - first + 1));
    qsizetype count = 0;
    char prev = first > 0 ? byteAt(first - 1) : '\0';
    for (long i = 0; i <= last - first; ++i) {
        if (p[i] == '\n' && prev != '\r')
            ++count;
        prev = p[i];
    }
    return count;
}

void SourceEditor::onModified(int position, int type, int length)
{
    // Keep the count of lone LFs current: a change can only alter the LFs it
    // inserts or removes and the one right after it, whose neighbour changes.
    if (type & SC_MOD_BEFOREINSERT)
        m_loneLfBefore = loneLfIn(position, position);
    else if (type & SC_MOD_BEFOREDELETE)
        m_loneLfBefore = loneLfIn(position, position + length);
    else if (type & SC_MOD_INSERTTEXT)
        m_loneLf += loneLfIn(position, position + length) - m_loneLfBefore;
    else if (type & SC_MOD_DELETETEXT)
        m_loneLf += loneLfIn(position, position) - m_loneLfBefore;

    if ((type & (SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT)) && !m_replacing)
        emit changed();
}

std::string_view SourceEditor::utf8() const
{
    const long size = SendScintilla(SCI_GETLENGTH);
    if constexpr (sizeof(long) >= sizeof(void *)) {
        const auto *p = reinterpret_cast<const char *>(SendScintilla(SCI_GETCHARACTERPOINTER));
        return {p, static_cast<std::size_t>(size)};
    } else {
        m_copy.resize(static_cast<std::size_t>(size) + 1);
        SendScintilla(SCI_GETTEXT, static_cast<unsigned long>(size + 1), m_copy.data());
        m_copy.resize(static_cast<std::size_t>(size));
        return m_copy;
    }
}

QString SourceEditor::text() const
{
    const std::string_view bytes = utf8();
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void SourceEditor::setText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    setUtf8Text({bytes.constData(), static_cast<std::size_t>(bytes.size())});
}

void SourceEditor::setUtf8Text(std::string_view bytes)
{
    m_replacing = true;
    // The character index and the undo history would each follow the insert
    // byte by byte; rebuilding the index once afterwards is much cheaper.
    SendScintilla(SCI_RELEASELINECHARACTERINDEX, static_cast<unsigned long>(utf16Index));
    SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
    SendScintilla(SCI_CLEARALL);
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()), bytes.data());
    SendScintilla(SCI_EMPTYUNDOBUFFER);
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    SendScintilla(SCI_ALLOCATELINECHARACTERINDEX, static_cast<unsigned long>(utf16Index));
    SendScintilla(SCI_GOTOPOS, 0UL);
    m_replacing = false;
    emit changed();
}

long SourceEditor::toByte(qsizetype charPos) const
{
    if (charPos <= 0)
        return 0;
    const long size = SendScintilla(SCI_GETLENGTH);
    const long line = SendScintilla(SCI_LINEFROMINDEXPOSITION, static_cast<unsigned long>(charPos),
                                    static_cast<long>(utf16Index));
    const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const long lineIndex = SendScintilla(SCI_INDEXPOSITIONFROMLINE, static_cast<unsigned long>(line),
                                         static_cast<long>(utf16Index));
    const long pos = SendScintilla(SCI_POSITIONRELATIVECODEUNITS,
                                   static_cast<unsigned long>(lineStart),
                                   static_cast<long>(charPos - lineIndex));
    // Past the end Scintilla answers 0: clamp to the end of the text.
    return (pos == 0 && charPos > lineIndex) ? size : pos;
}

qsizetype SourceEditor::toChar(long bytePos) const
{
    const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(bytePos));
    const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const long lineIndex = SendScintilla(SCI_INDEXPOSITIONFROMLINE, static_cast<unsigned long>(line),
                                         static_cast<long>(utf16Index));
    return lineIndex + SendScintilla(SCI_COUNTCODEUNITS, static_cast<unsigned long>(lineStart), bytePos);
}

qsizetype SourceEditor::length() const { return toChar(SendScintilla(SCI_GETLENGTH)); }

qsizetype SourceEditor::selStart() const { return toChar(SendScintilla(SCI_GETSELECTIONSTART)); }

qsizetype SourceEditor::selLength() const
{
    return toChar(SendScintilla(SCI_GETSELECTIONEND)) - selStart();
}

void SourceEditor::setSelStart(qsizetype pos)
{
    const long byte = toByte(std::clamp<qsizetype>(pos, 0, length()));
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(byte), byte);
}

void SourceEditor::setSelLength(qsizetype len)
{
    const qsizetype start = selStart();
    const qsizetype end = std::clamp<qsizetype>(start + std::max<qsizetype>(len, 0), start, length());
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(toByte(start)), toByte(end));
}

QString SourceEditor::selText() const
{
    const long from = SendScintilla(SCI_GETSELECTIONSTART);
    const long to = SendScintilla(SCI_GETSELECTIONEND);
    const auto *p = reinterpret_cast<const char *>(
        SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), to - from));
    return QString::fromUtf8(p, to - from);
}

void SourceEditor::setSelText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const long from = SendScintilla(SCI_GETSELECTIONSTART);
    SendScintilla(SCI_TARGETFROMSELECTION);
    // Replacing the target takes a length, so NUL characters and line breaks
    // arrive as they are.
    SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(bytes.size()), bytes.constData());
    const long caret = from + bytes.size();
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(caret), caret);
}

qsizetype SourceEditor::crCountBefore(qsizetype pos) const
{
    const long byte = toByte(pos);
    if (m_loneLf == 0) {
        // Every line break holds exactly one CR, so the line index answers at
        // once; a caret between the CR and LF of one break has that CR behind it.
        const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(byte));
        const bool insideCrLf = byte > 0 && byteAt(byte - 1) == '\r' && byteAt(byte) == '\n';
        return line + (insideCrLf ? 1 : 0);
    }
    const auto *p = reinterpret_cast<const char *>(
        SendScintilla(SCI_GETRANGEPOINTER, 0UL, byte));
    return countCr(p, static_cast<std::size_t>(byte));
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
    return QsciScintilla::event(e);
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
