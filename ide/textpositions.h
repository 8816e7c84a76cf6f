#pragma once
// Character positions and line breaks of a UTF-8 text that lives elsewhere
// (the editor control's buffer), kept up to date from the notifications sent
// before each change instead of rescanning the text: a keystroke at the end
// of a 50 MB file costs microseconds. Characters are counted in UTF-16 units,
// as the window's commands count them; a line break is what the editor shows
// as one: CR LF, a lone CR or a lone LF. Free of Qt, so that tests and the
// fuzzer reach it without a window.

#include <cstddef>
#include <string_view>

namespace kesto {

// What the bookkeeping reads of the text.
class TextBytes {
public:
    virtual ~TextBytes() = default;
    virtual long size() const = 0;
    virtual char at(long pos) const = 0;
    // The bytes from..to, contiguous; valid until the text changes.
    virtual const char *range(long from, long to) const = 0;
    // The line that holds byte `pos`, counted from 0, where CR LF, a lone CR
    // and a lone LF each end a line.
    virtual long lineOf(long pos) const = 0;
};

struct TextCounts {
    std::ptrdiff_t utf16Units = 0;
};
TextCounts countText(std::string_view utf8);

// Line breaks in a text: CR LF, a lone CR and a lone LF count one each.
std::ptrdiff_t countBreaks(std::string_view text);

class TextPositions {
public:
    explicit TextPositions(const TextBytes &text) : m_text(text) {}

    // A whole new text, with its counts (made where it was decoded anyway).
    void reset(TextCounts counts);
    // Sent before the text changes: `length` bytes go in, or go, at
    // `position`. Each completes the bookkeeping of the change before, and
    // tells whether there was one, as settle() does.
    bool beforeInsert(long position, long length);
    bool beforeDelete(long position, long length);
    // Completes the bookkeeping of the change that has happened since the
    // last notification; true when there was one.
    bool settle();

    std::ptrdiff_t length(); // UTF-16 units of the whole text
    long toByte(std::ptrdiff_t charPos);
    std::ptrdiff_t toChar(long bytePos);
    // Line breaks before `bytePos`; one between the CR and LF of a pair counts.
    std::ptrdiff_t breaksBefore(long bytePos);

private:
    std::ptrdiff_t unitsIn(long from, long to) const;

    const TextBytes &m_text;
    struct Pending {
        enum Kind { None, Insert, Delete } kind = None;
        long position = 0;
        long length = 0;
    };
    Pending m_pending;                 // a change announced but not yet counted
    std::ptrdiff_t m_length = 0;       // UTF-16 units of the whole text
    std::ptrdiff_t m_unitsRemoved = 0; // UTF-16 units of a pending deletion
    // A known byte position and its character position: conversions walk
    // from here (or from either end, if nearer), and carets move in small steps.
    long m_anchorByte = 0;
    std::ptrdiff_t m_anchorChar = 0;
};

} // namespace kesto
