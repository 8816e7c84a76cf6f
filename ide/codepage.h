#pragma once
// The two byte tables of the program, free of Qt so they can be fuzzed alone:
// Windows-1250 (the 8-bit code page of the lab machines) and the 18 Polish
// letters of code page 852 that DOS editors wrote, laid over it on loading;
// and the rule that tells which way the bytes of a file are read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kesto::codepage {

// Windows-1250, total: the five bytes the code page leaves unassigned
// (0x81, 0x83, 0x88, 0x90, 0x98) decode to the C1 control of the same value,
// so every byte round-trips.
char16_t decodeCp1250(unsigned char byte);

// A source-file byte: one of the 18 code-page-852 letters, otherwise Windows-1250.
char16_t decodeSourceByte(unsigned char byte);

// How the bytes of a source file are read.
enum class SourceEncoding {
    // Windows-1250 with the 18 letters of code page 852 laid over it: files
    // of DOS editors, and every file that is neither of the two below.
    Cp852Letters,
    // Plain Windows-1250, as Windows programs and this one write: the file
    // holds more Polish letters that only Windows-1250 has where they are
    // (none of them a frame character of code page 852) than code-page-852
    // letters at bytes where Windows-1250 has none (all but Ą's and Ź's,
    // which are letters in both). A tie, or no letter of either kind, keeps
    // the letter table. The program's own saves that this would misread are
    // known by their bytes instead (disk/ownsaves.h).
    Cp1250,
    // Valid UTF-8 with at least one character of more than one byte (a
    // byte-order mark, which is dropped, counts).
    Utf8,
};

// Takes in a whole file, a piece at a time, and decides how it is read and
// how long its text is in UTF-8.
class SourceScanner {
public:
    void feed(const unsigned char *bytes, std::size_t count);
    SourceEncoding encoding() const;
    // Whether the rule reads the file as plain Windows-1250 reads it: as
    // Windows-1250, or through the letter table where no byte is one of its letters.
    bool readsAsCp1250() const;
    // UTF-8 bytes of the text the file is read as (no byte-order mark).
    std::size_t utf8Size() const { return utf8Size(encoding()); }
    // The same when it is read the way given.
    std::size_t utf8Size(SourceEncoding as) const;
    // A UTF-8 file's byte-order mark: the text starts after it.
    bool startsWithByteOrderMark() const { return m_bom; }
    std::size_t bytesSeen() const { return m_bytes; }
    // The bytes so far could begin a UTF-8 file (one may stop mid-character).
    bool looksLikeUtf8() const { return m_utf8Valid && m_multibyte; }

    // What the byte counting yields, the same on every processor.
    struct Counts {
        std::size_t extraUtf8 = 0;      // bytes beyond one per byte, in the overlaid reading
        std::size_t windowsLetters = 0; // Polish letters only Windows-1250 has at their bytes
        std::size_t dosLetters = 0;     // code-page-852 letters where Windows-1250 has none
        std::size_t sharedLetters = 0;  // Ą's and Ź's bytes: ą and Ć in code page 852
        std::size_t widerInCp1250 = 0; // ć's and Ś's bytes, † and — in Windows-1250: one UTF-8 byte more
        friend bool operator==(const Counts &, const Counts &) = default;
    };
    const Counts &counts() const { return m_counts; }
    static Counts countPlain(const unsigned char *bytes, std::size_t count); // for the fuzzer
    static Counts count(const unsigned char *bytes, std::size_t count);

private:
    void validateUtf8(const unsigned char *bytes, std::size_t count);

    std::size_t m_bytes = 0;
    Counts m_counts;
    // UTF-8 so far; the continuation bytes still expected, and the range
    // the next one must fall in.
    bool m_utf8Valid = true;
    bool m_multibyte = false;
    bool m_bom = false;
    unsigned m_pending = 0;
    unsigned char m_low = 0x80, m_high = 0xBF;
};

// Windows-1250 byte for a code point, or -1 when the code page cannot hold it.
int encodeCp1250(char32_t codePoint);

// Appends the UTF-8 form of the source bytes to `out`, one character per byte
// in the two 8-bit readings; UTF-8 is taken as it is.
void appendSourceAsUtf8(const unsigned char *bytes, std::size_t count, std::string &out,
                        SourceEncoding encoding = SourceEncoding::Cp852Letters);

// Largest UTF-8 length of one decoded source byte.
constexpr std::size_t maxUtf8PerByte = 3;

struct EncodeResult {
    std::size_t unmappable = 0;        // characters written as '?'
    std::size_t firstUnmappableAt = 0; // offset in the UTF-8 input of the first one
    char32_t firstUnmappable = 0;
};

// Writes the Windows-1250 bytes of UTF-8 text to `out`, which has room for
// at least in.size() bytes, and returns how many it wrote; characters the
// code page cannot hold, and malformed UTF-8, become '?' and are counted
// into `result` (offsets relative to `in`).
std::size_t encodeUtf8AsCp1250(std::string_view in, char *out, EncodeResult &result);

// Appends the Windows-1250 bytes of UTF-8 text to `out`. Characters the code
// page cannot hold, and malformed UTF-8, become '?' and are counted.
EncodeResult appendUtf8AsCp1250(std::string_view utf8, std::string &out);

} // namespace kesto::codepage
