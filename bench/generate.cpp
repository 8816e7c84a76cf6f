#include "generate.h"

namespace benchfiles {
namespace {
// ą ę ó ś ł ż ź ć ń in code page 852.
const char polish[] = "\xA5\xA9\xA2\x98\x88\xBE\xAB\x86\xE4";
const char *const mnemonics[] = {"MOV A,#", "ADD A,R", "JNZ  et", "CALL pr", "DJNZ R", "SUBB A,#"};
} // namespace

QByteArray source(qint64 bytes)
{
    QByteArray out;
    out.reserve(bytes + 128);
    for (int n = 0; out.size() < bytes; ++n) {
        out += "et";
        out += QByteArray::number(n % 100000).rightJustified(5, '0');
        out += ":  ";
        out += mnemonics[n % 6];
        out += QByteArray::number(n % 256, 16);
        out += "h   ; licznik ";
        out += polish[n % 9];
        out += polish[(n / 9) % 9];
        out += " p\xA9"
               "tla nr ";
        out += QByteArray::number(n);
        out += "\r\n";
    }
    return out;
}

QByteArray polishHeavy(qint64 bytes)
{
    // The 18 letters of code page 852.
    static const char letters[] = "\xA5\xA9\xA2\x98\x88\xBE\xAB\x86\xE4\xA4\xA8\xE0\x97\x9D\xBD\x8D\x8F\xE3";
    static const char others[] = "abcdefghijklmnoprstuwyz ";
    QByteArray out;
    out.reserve(bytes + 128);
    for (int n = 0; out.size() < bytes; ++n) {
        out += "; ";
        for (int i = 0; i < 58; ++i)
            out += i % 3 == 0 ? letters[(n + i / 3) % 18] : others[(n + i) % 24];
        out += "\r\n";
    }
    return out;
}

QByteArray singleLine(qint64 bytes)
{
    QByteArray out = source(bytes);
    out.replace("\r\n", "  ");
    return out.left(bytes);
}

} // namespace benchfiles
