#include "sourceeditor.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

// The document loader that SCI_CREATELOADER hands out. QScintilla does not
// ship Scintilla's ILoader.h, so the interface is declared here as that
// header of this Scintilla declares it, outside any namespace: the object
// is a Scintilla::Document deriving from ::ILoader, and a call through any
// other type would be one through the wrong type (undefined, and flagged by
// UBSan).
#ifdef _WIN32
#define KESTO_SCI_METHOD __stdcall
#else
#define KESTO_SCI_METHOD
#endif
class ILoader {
public:
    virtual int KESTO_SCI_METHOD Release() = 0;
    // Returns a status code from SC_STATUS_*
    virtual int KESTO_SCI_METHOD AddData(const char *data, std::ptrdiff_t length) = 0;
    virtual void *KESTO_SCI_METHOD ConvertToDocument() = 0;
};
#undef KESTO_SCI_METHOD

namespace kesto {

// Drops a loader and its unfinished document (after ConvertToDocument(),
// the loader's reference to the finished one).
struct ReleaseLoader {
    void operator()(ILoader *loader) const { loader->Release(); }
};

SourceEditor::SourceEditor(QWidget *parent)
    : QsciScintilla(parent),
      m_direct(reinterpret_cast<DirectFunction>(SendScintillaPtrResult(SCI_GETDIRECTFUNCTION))),
      m_directThis(reinterpret_cast<std::intptr_t>(SendScintillaPtrResult(SCI_GETDIRECTPOINTER)))
{
    configureDocument();
    configureView();
    setWrapMode(WrapNone);
    setMarginWidth(0, 0);
    setMarginWidth(1, 0);
    setMarginWidth(2, 0);
    SendScintilla(SCI_SETPASTECONVERTENDINGS, 0UL);
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
    SendScintilla(SCI_SETHSCROLLBAR, 1L);
    SendScintilla(SCI_SETVSCROLLBAR, 1L);
    bindPlainTextKeys();
    SendScintilla(SCI_SETMULTIPLESELECTION, 0UL);
    SendScintilla(SCI_SETMOUSESELECTIONRECTANGULARSWITCH, 0UL);

    // The control is told to report only the moments before a change. With
    // the reports after a change, QScintilla's accessibility support counts
    // the characters from the start of the text to the change, every time:
    // a quarter of a second per keystroke at the end of a 50 MB file. Each
    // change is completed at the next report or when its event has been
    // handled (signalChanges()).
    SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE));
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char *, int length, int, int, int, int, int, int) {
                onModified(position, type, length);
            });
}

// The control's buffer, as the position bookkeeping reads it.
char SourceEditor::ControlBytes::at(long pos) const
{
    return static_cast<char>(editor.SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(pos)));
}

long SourceEditor::ControlBytes::size() const { return editor.SendScintilla(SCI_GETLENGTH); }

const char *SourceEditor::ControlBytes::range(long from, long to) const { return editor.range(from, to); }

long SourceEditor::ControlBytes::lineOf(long pos) const
{
    return editor.SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(pos));
}

// SendScintilla() hands results back as a long, which holds no pointer on
// 64-bit Windows; messages that return one go through the control's direct
// function, whose result is as wide as a pointer.
void *SourceEditor::pointerResult(unsigned int message, std::uintptr_t wParam, std::intptr_t lParam) const
{
    return reinterpret_cast<void *>(m_direct(m_directThis, message, wParam, lParam));
}

const char *SourceEditor::range(long from, long to) const
{
    return static_cast<const char *>(
        pointerResult(SCI_GETRANGEPOINTER, static_cast<std::uintptr_t>(from), to - from));
}

void SourceEditor::onModified(int position, int type, int length)
{
    if (m_replacing)
        return; // replaceText() counts the new text itself, in one pass
    m_undone = m_undone && m_undoing;
    // Only the notifications sent before a change arrive (see the
    // constructor); the previous change is complete by then.
    if (type & SC_MOD_BEFOREINSERT)
        m_unsignalled |= m_positions.beforeInsert(position, length);
    else if (type & SC_MOD_BEFOREDELETE)
        m_unsignalled |= m_positions.beforeDelete(position, length);
}

void SourceEditor::settle() const { m_unsignalled |= m_positions.settle(); }

void SourceEditor::signalChanges()
{
    settle();
    if (m_unsignalled) {
        m_unsignalled = false;
        emit changed();
    }
}

bool SourceEditor::canUndo() const { return m_undone ? isRedoAvailable() : isUndoAvailable(); }

void SourceEditor::undo()
{
    if (!canUndo())
        return;
    m_undoing = true;
    if (m_undone)
        QsciScintilla::redo();
    else
        QsciScintilla::undo();
    m_undoing = false;
    m_undone = !m_undone;
    signalChanges();
}

bool SourceEditor::viewportEvent(QEvent *e)
{
    // Drops and middle-click pastes reach the text through the viewport.
    const bool handled = QsciScintilla::viewportEvent(e);
    signalChanges();
    return handled;
}

std::string_view SourceEditor::utf8() const
{
    const long size = SendScintilla(SCI_GETLENGTH);
    const auto *p = static_cast<const char *>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
    return {p, static_cast<std::size_t>(size)};
}

void SourceEditor::copyUtf8(std::string &out) const
{
    out.clear();
    const long size = SendScintilla(SCI_GETLENGTH);
    const long gap = SendScintilla(SCI_GETGAPPOSITION);
    out.reserve(static_cast<std::size_t>(size));
    // Each side of the gap read on its own: a range across it moves it.
    if (gap > 0)
        out.append(range(0, gap), static_cast<std::size_t>(gap));
    if (size > gap)
        out.append(range(gap, size), static_cast<std::size_t>(size - gap));
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
    bool given = false;
    replaceText(
        [&](TextChunk &chunk) {
            if (given)
                return 0;
            given = true;
            chunk.utf8.assign(bytes);
            chunk.utf16Units = countText(bytes).utf16Units;
            return 1;
        },
        bytes.size());
}

// View settings that keep large files fast.
void SourceEditor::configureView()
{
    // QScintilla shows annotations by default; the program has none, and
    // while they show, every new document costs a walk over all its lines.
    SendScintilla(SCI_ANNOTATIONSETVISIBLE, static_cast<unsigned long>(ANNOTATION_HIDDEN));
}

// Settings Scintilla keeps with each document rather than with the view.
void SourceEditor::configureDocument()
{
    setUtf8(true);
    setEolMode(m_lfBreaks ? EolUnix : EolWindows);
}

bool SourceEditor::replaceText(const TextChunkSource &next, std::size_t sizeHint)
{
    // The text goes into a document of its own, built by Scintilla's loader
    // away from the view: nothing is announced, laid out or redrawn while a
    // file streams in, and a source that fails halfway leaves the document,
    // caret and scroll position as they were. A loaded text is no step to
    // undo (the loader keeps no undo history), and the program never styles
    // its text, so the document keeps no style byte per character: half the
    // memory of a large file.
    const auto createLoader = [this](std::size_t bytes) {
        return std::unique_ptr<ILoader, ReleaseLoader>(
            static_cast<ILoader *>(pointerResult(SCI_CREATELOADER, bytes, SC_DOCUMENTOPTION_STYLES_NONE)));
    };
    std::unique_ptr<ILoader, ReleaseLoader> loader = createLoader(sizeHint);
    if (!loader)
        return false;
    qsizetype units = 0;
    TextChunk chunk;
    int got = 0;
    for (bool first = true; (got = next(chunk)) > 0; first = false) {
        // A buffer too small would be grown, a copy of it made; one far too
        // large would hold memory for nothing. Nothing is in it yet.
        const std::size_t whole = chunk.wholeText;
        if (first && whole > 0 &&
            (whole > sizeHint || sizeHint - whole > sizeHint / 16 + (std::size_t(1) << 20))) {
            loader.reset();
            if (!(loader = createLoader(whole)))
                return false;
        }
        if (loader->AddData(chunk.utf8.data(), static_cast<std::ptrdiff_t>(chunk.utf8.size())) !=
            SC_STATUS_OK)
            return false;
        units += chunk.utf16Units;
    }
    if (got < 0)
        return false;

    m_replacing = true;
    // The view takes a reference to the document and drops the old one;
    // the loader's reference goes, so the view's is the only one.
    SendScintilla(SCI_SETDOCPOINTER, 0UL, loader->ConvertToDocument());
    loader.reset();
    // The first line's end, from the line index the loader has built: no
    // pass over the text, however long its first line.
    m_lfBreaks = SendScintilla(SCI_GETCHARAT, SendScintilla(SCI_GETLINEENDPOSITION, 0UL)) == '\n';
    configureDocument();
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    // The caret is at the start already; scrolling to it here would lay out
    // the first line at once, which for one huge line costs seconds twice over.
    SendScintilla(SCI_SETFIRSTVISIBLELINE, 0UL);
    SendScintilla(SCI_SETXOFFSET, 0UL);
    m_positions.reset({units});
    m_unsignalled = false;
    m_undone = false;
    m_replacing = false;
    emit changed();
    return true;
}

long SourceEditor::toByte(qsizetype charPos) const { return m_positions.toByte(charPos); }

qsizetype SourceEditor::toChar(long bytePos) const { return m_positions.toChar(bytePos); }

qsizetype SourceEditor::selStart() const { return toChar(SendScintilla(SCI_GETSELECTIONSTART)); }

qsizetype SourceEditor::selLength() const { return toChar(SendScintilla(SCI_GETSELECTIONEND)) - selStart(); }

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
    return QString::fromUtf8(range(from, to), to - from);
}

long SourceEditor::replaceRange(long from, long to, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    SendScintilla(SCI_SETTARGETRANGE, static_cast<unsigned long>(from), to);
    // Replacing the target takes a length, so NUL characters and line breaks
    // arrive as they are.
    SendScintilla(SCI_REPLACETARGET, static_cast<std::uintptr_t>(bytes.size()), bytes.constData());
    return from + static_cast<long>(bytes.size());
}

void SourceEditor::setSelText(const QString &text)
{
    const long caret =
        replaceRange(SendScintilla(SCI_GETSELECTIONSTART), SendScintilla(SCI_GETSELECTIONEND), text);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(caret), caret);
    signalChanges();
}

qsizetype SourceEditor::breaksBefore(qsizetype pos) const { return m_positions.breaksBefore(toByte(pos)); }

qsizetype SourceEditor::lineStart(qsizetype line) const
{
    return toChar(
        SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(std::max<qsizetype>(line - 1, 0))));
}

} // namespace kesto
