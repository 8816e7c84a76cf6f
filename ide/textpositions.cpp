#include "textpositions.h"

#include <algorithm>
#include <cstdlib>

namespace kesto {
namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
// UTF-16 units of the UTF-8 character that starts with `lead`.
int unitsOf(char lead) { return static_cast<unsigned char>(lead) >= 0xF0 ? 2 : 1; }

// UTF-16 units of n bytes of UTF-8 that start and end on character boundaries.
std::ptrdiff_t utf16Units(const char *p, std::size_t n)
{
    std::ptrdiff_t units = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0;
    }
    return units;
}

} // namespace

TextCounts countText(std::string_view text) { return {utf16Units(text.data(), text.size())}; }

std::ptrdiff_t countBreaks(std::string_view text)
{
    std::ptrdiff_t breaks = 0;
    char prev = '\0';
    for (const char c : text) {
        breaks += c == '\r' || (c == '\n' && prev != '\r');
        prev = c;
    }
    return breaks;
}

void TextPositions::reset(TextCounts counts)
{
    m_pending.kind = Pending::None;
    m_length = counts.utf16Units;
    m_anchorByte = 0;
    m_anchorChar = 0;
}

std::ptrdiff_t TextPositions::unitsIn(long from, long to) const
{
    return from < to ? utf16Units(m_text.range(from, to), static_cast<std::size_t>(to - from)) : 0;
}

// The anchor moves with the text after a change; inside a deletion it falls
// back to where the deletion starts.
bool TextPositions::beforeInsert(long position, long length)
{
    const bool settled = settle();
    m_pending = {Pending::Insert, position, length};
    return settled;
}

bool TextPositions::beforeDelete(long position, long length)
{
    const bool settled = settle();
    m_unitsRemoved = unitsIn(position, position + length);
    if (m_anchorByte > position && m_anchorByte < position + length) {
        m_anchorChar -= unitsIn(position, m_anchorByte);
        m_anchorByte = position;
    }
    m_pending = {Pending::Delete, position, length};
    return settled;
}

bool TextPositions::settle()
{
    const Pending p = m_pending;
    if (p.kind == Pending::None)
        return false;
    m_pending.kind = Pending::None;
    if (p.kind == Pending::Insert) {
        const std::ptrdiff_t units = unitsIn(p.position, p.position + p.length);
        m_length += units;
        if (m_anchorByte >= p.position && m_anchorByte > 0) {
            m_anchorByte += p.length;
            m_anchorChar += units;
        }
    } else {
        m_length -= m_unitsRemoved;
        if (m_anchorByte >= p.position + p.length) {
            m_anchorByte -= p.length;
            m_anchorChar -= m_unitsRemoved;
        }
    }
    return true;
}

std::ptrdiff_t TextPositions::length()
{
    settle();
    return m_length;
}

long TextPositions::toByte(std::ptrdiff_t charPos)
{
    settle();
    const long size = m_text.size();
    if (charPos <= 0)
        return 0;
    if (charPos >= m_length)
        return size;
    // Walk from the nearest known point: the start, the anchor or the end.
    long byte = m_anchorByte;
    std::ptrdiff_t chr = m_anchorChar;
    const std::ptrdiff_t fromAnchor = std::abs(charPos - chr);
    if (charPos < fromAnchor) {
        byte = 0;
        chr = 0;
    } else if (m_length - charPos < fromAnchor) {
        byte = size;
        chr = m_length;
    }
    // A character is at most four bytes: only that much of the text is
    // asked for, so the control's gap stays where the typing is.
    const long span = static_cast<long>(std::min<std::ptrdiff_t>(4 * std::abs(charPos - chr), size));
    if (charPos >= chr) {
        const long end = std::min(size, byte + span);
        const char *p = m_text.range(byte, end);
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
        const char *p = m_text.range(begin, byte);
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

std::ptrdiff_t TextPositions::toChar(long bytePos)
{
    settle();
    const long size = m_text.size();
    std::ptrdiff_t chr = 0;
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

std::ptrdiff_t TextPositions::breaksBefore(long byte)
{
    settle();
    // The line index answers at once; a caret between the CR and LF of one
    // break has that break behind it, as the CR it has passed.
    const bool insideCrLf =
        byte > 0 && byte < m_text.size() && m_text.at(byte - 1) == '\r' && m_text.at(byte) == '\n';
    return m_text.lineOf(byte) + (insideCrLf ? 1 : 0);
}

} // namespace kesto
