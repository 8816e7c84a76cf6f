#pragma once
// The editor control: QScintilla set up as a plain text box whose text keeps
// the user's line breaks byte for byte (Enter types CR LF, or LF in a text
// of LF lines; a lone CR or LF from a file stays as it is). Positions and
// lengths are counted in characters (UTF-16 units) of that text, as the
// window's commands expect.

#include "textpositions.h"

#include <Qsci/qsciscintilla.h>

#include <QKeySequence>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kesto {

// A piece of a text being loaded, with the count the editor keeps, made
// where the bytes are decoded anyway.
struct TextChunk {
    std::string utf8;
    qsizetype utf16Units = 0;
    // The first chunk may tell the UTF-8 size of the whole text, once the
    // file has been looked at whole: the control's buffer is then made that
    // size, rather than grown (and copied) or left half empty.
    std::size_t wholeText = 0;
};
// Fills the next chunk and returns 1, returns 0 at the end, -1 on failure.
using TextChunkSource = std::function<int(TextChunk &)>;

class SourceEditor : public QsciScintilla {
    Q_OBJECT
public:
    explicit SourceEditor(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text) override;
    // Replaces the whole text with UTF-8 bytes as they are (NUL bytes included).
    void setUtf8Text(std::string_view utf8);
    // Replaces the whole text with the chunks `next` hands out, all or
    // nothing: when it fails, the editor keeps the text it had and nothing
    // is signalled. `sizeHint` (UTF-8 bytes expected) saves regrowing the
    // control's buffer chunk after chunk; the buffer is made while the first
    // chunk is on its way, and made again if that chunk's `wholeText` shows
    // the guess far off.
    bool replaceText(const TextChunkSource &next, std::size_t sizeHint = 0);
    // The whole text as UTF-8, without copying it out of the control where the
    // platform allows. Valid until the next change.
    std::string_view utf8() const;
    // The whole text as UTF-8 into `out`, reusing its storage, without
    // moving the control's gap (which the next keystroke would move back).
    void copyUtf8(std::string &out) const;
    std::size_t utf8Size() const { return static_cast<std::size_t>(SendScintilla(SCI_GETLENGTH)); }

    qsizetype length() const { return m_positions.length(); } // characters in the text

    // The line break Enter types: LF alone when the first line of the text
    // last put in whole (an opened file) ends in LF alone, as files from
    // Linux and web pages do; CR LF otherwise, a lone CR included.
    std::string_view lineBreak() const { return m_lfBreaks ? "\n" : "\r\n"; }

    qsizetype selStart() const;
    void setSelStart(qsizetype pos); // moves the caret there; nothing stays selected
    qsizetype selLength() const;
    void setSelLength(qsizetype len); // selects len characters from selStart()
    QString selText() const;
    // Replaces the selection (or inserts at the caret) exactly as given, line
    // breaks included; the caret ends after the new text.
    void setSelText(const QString &text);

    // Line breaks among the first `pos` characters: CR LF, a lone CR and a
    // lone LF count one each, as the editor shows them.
    qsizetype breaksBefore(qsizetype pos) const;
    qsizetype breakCount() const { return breaksBefore(length()); }
    // Where line `line` (1 for the first, as the editor shows them) starts.
    qsizetype lineStart(qsizetype line) const;

    // Whether undo() would change the text.
    bool canUndo() const;

    // Keys the window handles itself (its menu shortcuts): they reach the
    // window's shortcuts even while the editor has the focus.
    void setWindowShortcuts(const QList<QKeySequence> &keys);

signals:
    // Fires synchronously after every change of the text, the program's own included.
    void changed();
    void keyReleased();
    // The control's own clipboard keys and right-click menu ask the window
    // instead of touching the text and clipboard themselves.
    void cutRequested();
    void copyRequested();
    void pasteRequested();
    void deleteRequested();
    void selectAllRequested();
    // A middle click at `position` (characters): X programs paste the
    // primary selection there. The window asks the system for it.
    void selectionPasteRequested(qsizetype position);
    // Files (or other URLs) dropped on the text: they are not inserted; the
    // window opens them.
    void urlsDropped(const QList<QUrl> &urls);

public slots:
    // The one-step undo of a plain text box: the last change is undone, and
    // undoing again puts back what the undo took, so that no run of undos
    // loses text.
    void undo() override;

protected:
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void bindPlainTextKeys();
    void dropText(QDropEvent *e);
    // Replaces the bytes from..to with `text` exactly as given; returns where
    // the new text ends. The change is signalled by the caller.
    long replaceRange(long from, long to, const QString &text);
    void onModified(int position, int type, int length);
    void configureDocument();
    void configureView();
    void settle() const;  // completes the bookkeeping of a finished change
    void signalChanges(); // settles, then emits changed() if the text changed
    long toByte(qsizetype charPos) const;
    qsizetype toChar(long bytePos) const;
    const char *range(long from, long to) const;
    void *pointerResult(unsigned int message, std::uintptr_t wParam, std::intptr_t lParam) const;

    // The control's buffer, read by the position bookkeeping.
    struct ControlBytes : TextBytes {
        explicit ControlBytes(const SourceEditor &e) : editor(e) {}
        long size() const override;
        char at(long pos) const override;
        const char *range(long from, long to) const override;
        long lineOf(long pos) const override;
        const SourceEditor &editor;
    };

    QList<QKeySequence> m_windowShortcuts;
    bool m_replacing = false;           // whole-text replacement under way: one change signal at its end
    bool m_lfBreaks = false;            // Enter types LF (see lineBreak())
    bool m_undoing = false;             // undo() under way
    bool m_undone = false;              // the last change was an undo: the next one redoes it
    mutable bool m_unsignalled = false; // a counted change waits for changed()
    ControlBytes m_bytes{*this};
    // Kept up to date from the control's change notifications, so that no
    // keystroke has to scan the text from its start.
    mutable TextPositions m_positions{m_bytes};
    // Scintilla's own entry point, which returns results as wide as a pointer.
    using DirectFunction = std::intptr_t (*)(std::intptr_t, unsigned int, std::uintptr_t, std::intptr_t);
    DirectFunction m_direct;
    std::intptr_t m_directThis;
};

} // namespace kesto
