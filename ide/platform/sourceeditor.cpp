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

namespace {

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

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
// UTF-16 units of the UTF-8 character that starts with `lead`.
int unitsOf(char lead) { return static_cast<unsigned char>(lead) >= 0xF0 ? 2 : 1; }

// UTF-16 units of n bytes of UTF-8 that start and end on character boundaries.
qsizetype utf16Units(const char *p, std::size_t n)
{
    qsizetype units = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0;
    }
    return units;
}

struct TextCounts {
    qsizetype utf16Units = 0;
    qsizetype loneLf = 0;
};

TextCounts countText(std::string_view text)
{
    TextCounts c;
    c.utf16Units = utf16Units(text.data(), text.size());
    char prev = '\0';
    for (const char ch : text) {
        c.loneLf += ch == '\n' && prev != '\r';
        prev = ch;
    }
    return c;
}

} // namespace

SourceEditor::SourceEditor(QWidget *parent) : QsciScintilla(parent)
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

char SourceEditor::byteAt(long pos) const
{
    return static_cast<char>(SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(pos)));
}

const char *SourceEditor::range(long from, long to) const
{
    return reinterpret_cast<const char *>(
        SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), to - from));
}

qsizetype SourceEditor::unitsIn(long from, long to) const
{
    return from < to ? utf16Units(range(from, to), static_cast<std::size_t>(to - from)) : 0;
}

// Lone LFs at byte positions first..last (inclusive, clipped to the text).
qsizetype SourceEditor::loneLfIn(long first, long last) const
{
    const long size = SendScintilla(SCI_GETLENGTH);
    first = std::max(first, 0L);
    last = std::min(last, size - 1);
    if (first > last)
        return 0;
    const char *p = range(first, last + 1);
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
    if (m_replacing)
        return; // setUtf8Text() counts the new text itself, in one pass
    // Only the notifications sent before a change arrive (see the
    // constructor); the previous change is complete by then.
    settle();
    // A change can only alter the lone LFs it inserts or removes and the LF
    // right after it, whose neighbour changes. The anchor moves with the text
    // after it; inside a deletion it falls back to where the deletion starts.
    if (type & SC_MOD_BEFOREINSERT) {
        m_loneLfBefore = loneLfIn(position, position);
        m_pending = {Pending::Insert, position, length};
    } else if (type & SC_MOD_BEFOREDELETE) {
        m_loneLfBefore = loneLfIn(position, position + length);
        m_unitsRemoved = unitsIn(position, position + length);
        if (m_anchorByte > position && m_anchorByte < position + length) {
            m_anchorChar -= unitsIn(position, m_anchorByte);
            m_anchorByte = position;
        }
        m_pending = {Pending::Delete, position, length};
    }
}

void SourceEditor::settle() const
{
    const Pending p = m_pending;
    if (p.kind == Pending::None)
        return;
    m_pending.kind = Pending::None;
    m_unsignalled = true;
    if (p.kind == Pending::Insert) {
        m_loneLf += loneLfIn(p.position, p.position + p.length) - m_loneLfBefore;
        const qsizetype units = unitsIn(p.position, p.position + p.length);
        m_length += units;
        if (m_anchorByte >= p.position && m_anchorByte > 0) {
            m_anchorByte += p.length;
            m_anchorChar += units;
        }
    } else {
        m_loneLf += loneLfIn(p.position, p.position) - m_loneLfBefore;
        m_length -= m_unitsRemoved;
        if (m_anchorByte >= p.position + p.length) {
            m_anchorByte -= p.length;
            m_anchorChar -= m_unitsRemoved;
        }
    }
}

void SourceEditor::signalChanges()
{
    settle();
    if (m_unsignalled) {
        m_unsignalled = false;
        emit changed();
    }
}

void SourceEditor::undo()
{
    QsciScintilla::undo();
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

void SourceEditor::copyUtf8(std::string &out) const
{
    out.clear();
    if constexpr (sizeof(long) >= sizeof(void *)) {
        const long size = SendScintilla(SCI_GETLENGTH);
        const long gap = SendScintilla(SCI_GETGAPPOSITION);
        out.reserve(static_cast<std::size_t>(size));
        // Each side of the gap read on its own: a range across it moves it.
        if (gap > 0)
            out.append(range(0, gap), static_cast<std::size_t>(gap));
        if (size > gap)
            out.append(range(gap, size), static_cast<std::size_t>(size - gap));
    } else {
        out.assign(utf8());
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
    bool given = false;
    replaceText(
        [&](TextChunk &chunk) {
            if (given)
                return 0;
            given = true;
            chunk.utf8.assign(bytes);
            const TextCounts counts = countText(bytes);
            chunk.utf16Units = counts.utf16Units;
            chunk.loneLf = counts.loneLf;
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
    setEolMode(EolWindows);
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
    std::unique_ptr<ILoader, ReleaseLoader> loader(reinterpret_cast<ILoader *>(SendScintilla(
        SCI_CREATELOADER, static_cast<unsigned long>(sizeHint), SC_DOCUMENTOPTION_STYLES_NONE)));
    if (!loader)
        return false;
    qsizetype units = 0;
    qsizetype loneLf = 0;
    TextChunk chunk;
    int got = 0;
    while ((got = next(chunk)) > 0) {
        if (loader->AddData(chunk.utf8.data(), static_cast<std::ptrdiff_t>(chunk.utf8.size())) !=
            SC_STATUS_OK)
            return false;
        units += chunk.utf16Units;
        loneLf += chunk.loneLf;
    }
    if (got < 0)
        return false;

    m_replacing = true;
    // The view takes a reference to the document and drops the old one;
    // the loader's reference goes, so the view's is the only one.
    SendScintilla(SCI_SETDOCPOINTER, 0UL, reinterpret_cast<long>(loader->ConvertToDocument()));
    loader.reset();
    configureDocument();
    SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
    // The caret is at the start already; scrolling to it here would lay out
    // the first line at once, which for one huge line costs seconds twice over.
    SendScintilla(SCI_SETFIRSTVISIBLELINE, 0UL);
    SendScintilla(SCI_SETXOFFSET, 0UL);
    m_pending.kind = Pending::None;
    m_unsignalled = false;
    m_length = units;
    m_loneLf = loneLf;
    m_anchorByte = 0;
    m_anchorChar = 0;
    m_replacing = false;
    emit changed();
    return true;
}

long SourceEditor::toByte(qsizetype charPos) const
{
    settle();
    const long size = SendScintilla(SCI_GETLENGTH);
    if (charPos <= 0)
        return 0;
    if (charPos >= m_length)
        return size;
    // Walk from the nearest known point: the start, the anchor or the end.
    long byte = m_anchorByte;
    qsizetype chr = m_anchorChar;
    const qsizetype fromAnchor = std::abs(charPos - chr);
    if (charPos < fromAnchor) {
        byte = 0;
        chr = 0;
    } else if (m_length - charPos < fromAnchor) {
        byte = size;
        chr = m_length;
    }
    // A character is at most four bytes: only that much of the text is
    // asked for, so the control's gap stays where the typing is.
    const long span = static_cast<long>(std::min<qsizetype>(4 * std::abs(charPos - chr), size));
    if (charPos >= chr) {
        const long end = std::min(size, byte + span);
        const char *p = range(byte, end);
        long i = 0;
        while (chr < charPos && byte + i < end) {
            chr += unitsOf(p[i]);
            ++i;
            while (byte + i < end && isContinuation(p[i]))
                ++i;
        }
        byte += i;
    } else {
        const long begin = std::max(0L, byte - span);
        const char *p = range(begin, byte);
        long i = byte - begin;
        while (chr > charPos && i > 0) {
            --i;
            while (i > 0 && isContinuation(p[i]))
                --i;
            chr -= unitsOf(p[i]);
        }
        byte = begin + i;
    }
    m_anchorByte = byte;
    m_anchorChar = chr;
    return byte;
}

qsizetype SourceEditor::toChar(long bytePos) const
{
    settle();
    const long size = SendScintilla(SCI_GETLENGTH);
    qsizetype chr = 0;
    if (bytePos >= m_anchorByte && bytePos - m_anchorByte <= size - bytePos)
        chr = m_anchorChar + unitsIn(m_anchorByte, bytePos);
    else if (bytePos > m_anchorByte)
        chr = m_length - unitsIn(bytePos, size);
    else if (bytePos < m_anchorByte - bytePos)
        chr = unitsIn(0, bytePos);
    else
        chr = m_anchorChar - unitsIn(bytePos, m_anchorByte);
    m_anchorByte = bytePos;
    m_anchorChar = chr;
    return chr;
}

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
    const auto *p = reinterpret_cast<const char *>(
        SendScintilla(SCI_GETRANGEPOINTER, static_cast<unsigned long>(from), to - from));
    return QString::fromUtf8(p, to - from);
}

long SourceEditor::replaceRange(long from, long to, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    SendScintilla(SCI_SETTARGETRANGE, static_cast<unsigned long>(from), to);
    // Replacing the target takes a length, so NUL characters and line breaks
    // arrive as they are.
    SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(bytes.size()), bytes.constData());
    return from + static_cast<long>(bytes.size());
}

void SourceEditor::setSelText(const QString &text)
{
    const long caret =
        replaceRange(SendScintilla(SCI_GETSELECTIONSTART), SendScintilla(SCI_GETSELECTIONEND), text);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(caret), caret);
    signalChanges();
}

qsizetype SourceEditor::crCountBefore(qsizetype pos) const
{
    settle();
    const long byte = toByte(pos);
    if (m_loneLf == 0) {
        // Every line break holds exactly one CR, so the line index answers at
        // once; a caret between the CR and LF of one break has that CR behind it.
        const long line = SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(byte));
        const bool insideCrLf = byte > 0 && byteAt(byte - 1) == '\r' && byteAt(byte) == '\n';
        return line + (insideCrLf ? 1 : 0);
    }
    const auto *p = reinterpret_cast<const char *>(SendScintilla(SCI_GETRANGEPOINTER, 0UL, byte));
    return countCr(p, static_cast<std::size_t>(byte));
}

} // namespace kesto
