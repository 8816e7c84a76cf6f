// The byte tables checked against ICU's Windows-1250 (Windows' own where Qt has
// no ICU) and against the code-page-852
// letters, and the UTF-8 paths to and from the editor, malformed input included.

#include "codepage.h"
#include "fingerprint.h"

#include <QStringDecoder>
#include <QTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace kesto;
using namespace Qt::StringLiterals;

class TestCodepage : public QObject {
    Q_OBJECT
private slots:
    void decodeAgreesWithIcuWindows1250();
    void sourceBytesOverlayTheEighteenLetters_data();
    void sourceBytesOverlayTheEighteenLetters();
    void encodeInvertsDecodeForEveryByteAndNothingElse();
    void sourceBytesReachUtf8AndBackUnchanged();
    void badUtf8AndForeignCharactersBecomeQuestionMarks_data();
    void badUtf8AndForeignCharactersBecomeQuestionMarks();
    void everyByteBesideALetterOfEachKind_data();
    void everyByteBesideALetterOfEachKind();
    void fingerprintIsXxh64OfPiecesOfAnySize_data();
    void fingerprintIsXxh64OfPiecesOfAnySize();
};

namespace {
// The code-page-852 letters at bytes where Windows-1250 has no Polish letter.
const QList<int> dosOnlyLetters = {0xA9, 0xA2, 0x98, 0x88, 0xBE, 0xAB, 0x86, 0xE4,
                                   0xA4, 0xA8, 0xE0, 0x97, 0x9D, 0xBD, 0x8D, 0xE3};

// The file read as the rule says, and which way that was.
QString readAs(const QByteArray &file, codepage::SourceEncoding &encoding)
{
    codepage::SourceScanner scanner;
    const auto *bytes = reinterpret_cast<const unsigned char *>(file.constData());
    scanner.feed(bytes, std::size_t(file.size()));
    encoding = scanner.encoding();
    std::string utf8;
    codepage::appendSourceAsUtf8(bytes, std::size_t(file.size()), utf8, encoding);
    return scanner.utf8Size() == utf8.size() ? QString::fromStdString(utf8) : QStringLiteral("<size>");
}
} // namespace

// Beside Windows-1250's ó (F3) every byte reads as Windows-1250, unless it is a
// code-page-852 letter; beside 852's ę (A9) every byte reads through the table;
// beside ó and ę (F3 EA) every byte reads as Windows-1250. The text's UTF-8
// length is known before it is decoded.
void TestCodepage::everyByteBesideALetterOfEachKind_data()
{
    QTest::addColumn<int>("byte");
    for (int b = 0; b < 256; ++b)
        QTest::addRow("%02X", b) << b;
}

void TestCodepage::everyByteBesideALetterOfEachKind()
{
    QFETCH(int, byte);
    const auto b = static_cast<unsigned char>(byte);
    codepage::SourceEncoding encoding{};
    const bool dos = dosOnlyLetters.contains(byte);
    QCOMPARE(readAs(QByteArray("\xF3") + char(b), encoding),
             dos ? QString(QChar(codepage::decodeSourceByte(0xF3))) + QChar(codepage::decodeSourceByte(b))
                 : QString(u'ó') + QChar(codepage::decodeCp1250(b)));
    QCOMPARE(encoding, dos ? codepage::SourceEncoding::Cp852Letters : codepage::SourceEncoding::Cp1250);
    QCOMPARE(readAs(QByteArray("\xA9") + char(b), encoding),
             QString(u'ę') + QChar(codepage::decodeSourceByte(b)));
    QCOMPARE(encoding, codepage::SourceEncoding::Cp852Letters);
    // Two letters of Windows-1250 outweigh any one of code page 852.
    QCOMPARE(readAs(QByteArray("\xF3\xEA") + char(b), encoding), u"óę"_s + QChar(codepage::decodeCp1250(b)));
    QCOMPARE(encoding, codepage::SourceEncoding::Cp1250);
}

void TestCodepage::decodeAgreesWithIcuWindows1250()
{
#ifdef Q_OS_WIN
    // This Qt has no ICU; the system's own table of the code page is as good.
    const auto reference = [](char byte) {
        wchar_t out[2];
        const int n = MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, &byte, 1, out, 2);
        return n == 1 ? QString(QChar(out[0])) : QString();
    };
#else
    QStringDecoder icu("windows-1250", QStringDecoder::Flag::Stateless);
    if (!icu.isValid())
        QSKIP("this Qt has no Windows-1250 codec to compare with");
    const auto reference = [&icu](char byte) -> QString { return icu.decode(QByteArrayView(&byte, 1)); };
#endif
    int compared = 0;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        const QString ref = reference(byte);
        const char16_t ours = codepage::decodeCp1250(static_cast<unsigned char>(b));
        if (ref.size() != 1 || ref[0] == QChar::ReplacementCharacter) {
            // Left unassigned by the code page: the C1 control of the same value.
            QCOMPARE(int(ours), b);
            continue;
        }
        QVERIFY2(ref[0].unicode() == ours,
                 qPrintable(QString::asprintf("byte %02X: U+%04X, ICU U+%04X", b, ours, ref[0].unicode())));
        ++compared;
    }
    QVERIFY2(compared >= 251, qPrintable(QString::number(compared)));
}

void TestCodepage::sourceBytesOverlayTheEighteenLetters_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("letter");
    const struct {
        int byte;
        const char16_t *letter;
    } rows[] = {{0xA5, u"ą"}, {0xA9, u"ę"}, {0xA2, u"ó"}, {0x98, u"ś"}, {0x88, u"ł"}, {0xBE, u"ż"},
                {0xAB, u"ź"}, {0x86, u"ć"}, {0xE4, u"ń"}, {0xA4, u"Ą"}, {0xA8, u"Ę"}, {0xE0, u"Ó"},
                {0x97, u"Ś"}, {0x9D, u"Ł"}, {0xBD, u"Ż"}, {0x8D, u"Ź"}, {0x8F, u"Ć"}, {0xE3, u"Ń"}};
    for (const auto &r : rows)
        QTest::addRow("%02X", r.byte) << r.byte << QString::fromUtf16(r.letter);
}

void TestCodepage::sourceBytesOverlayTheEighteenLetters()
{
    QFETCH(int, byte);
    QFETCH(QString, letter);
    QCOMPARE(QString(QChar(codepage::decodeSourceByte(static_cast<unsigned char>(byte)))), letter);

    // Every byte outside the table reads as Windows-1250.
    static const QList<int> table = {0xA5, 0xA9, 0xA2, 0x98, 0x88, 0xBE, 0xAB, 0x86, 0xE4,
                                     0xA4, 0xA8, 0xE0, 0x97, 0x9D, 0xBD, 0x8D, 0x8F, 0xE3};
    for (int b = 0; b < 256; ++b) {
        const auto u = static_cast<unsigned char>(b);
        if (!table.contains(b))
            QCOMPARE(codepage::decodeSourceByte(u), codepage::decodeCp1250(u));
    }
}

void TestCodepage::encodeInvertsDecodeForEveryByteAndNothingElse()
{
    for (int b = 0; b < 256; ++b)
        QCOMPARE(codepage::encodeCp1250(codepage::decodeCp1250(static_cast<unsigned char>(b))), b);
    for (int b : {0x81, 0x83, 0x88, 0x90, 0x98})
        QCOMPARE(int(codepage::decodeCp1250(static_cast<unsigned char>(b))), b);

    // Exactly 256 code points have a byte, and each decodes back to itself.
    int mappable = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; cp = cp < 0x3000 ? cp + 1 : cp + 0x61) {
        const int byte = codepage::encodeCp1250(cp);
        if (byte < 0)
            continue;
        ++mappable;
        QCOMPARE(char32_t(codepage::decodeCp1250(static_cast<unsigned char>(byte))), cp);
    }
    QCOMPARE(mappable, 256);
}

void TestCodepage::sourceBytesReachUtf8AndBackUnchanged()
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const auto *bytes = reinterpret_cast<const unsigned char *>(all.data());

    QString expected;
    for (unsigned char b : all)
        expected += QChar(codepage::decodeSourceByte(b));
    std::string utf8 = "keep:";
    codepage::appendSourceAsUtf8(bytes, all.size(), utf8);
    QCOMPARE(QByteArray::fromStdString(utf8), "keep:" + expected.toUtf8());

    // Plain Windows-1250 text goes back to the very bytes it came from.
    QString plain;
    for (unsigned char b : all)
        plain += QChar(codepage::decodeCp1250(b));
    std::string back = "keep:";
    const codepage::EncodeResult r = codepage::appendUtf8AsCp1250(plain.toStdString(), back);
    QCOMPARE(r.unmappable, std::size_t(0));
    QCOMPARE(QByteArray::fromStdString(back), "keep:" + QByteArray::fromStdString(all));
}

void TestCodepage::badUtf8AndForeignCharactersBecomeQuestionMarks_data()
{
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("unmappable");
    QTest::addColumn<int>("firstAt");
    QTest::addColumn<uint>("first");
    QTest::newRow("euro and ogonek fit")
        << QByteArray("\xE2\x82\xAC \xC4\x85") << QByteArray("\x80 \xB9") << 0 << 0 << 0u;
    QTest::newRow("emoji") << QByteArray("ab\xF0\x9F\x98\x80"
                                         "c")
                           << QByteArray("ab?c") << 1 << 2 << 0x1F600u;
    QTest::newRow("cyrillic twice") << QByteArray("\xD0\x96x\xD0\x96") << QByteArray("?x?") << 2 << 0
                                    << 0x416u;
    QTest::newRow("stray continuation") << QByteArray("a\x80"
                                                      "b")
                                        << QByteArray("a?b") << 1 << 1 << 0xFFFDu;
    QTest::newRow("invalid lead byte") << QByteArray("\xFF\xFE") << QByteArray("??") << 2 << 0 << 0xFFFDu;
    QTest::newRow("broken sequence") << QByteArray("x\xC4y") << QByteArray("x?y") << 1 << 1 << 0xFFFDu;
    // Overlong forms are malformed too, even where their value would fit.
    QTest::newRow("overlong NUL") << QByteArray("a\xC0\x80") << QByteArray("a??") << 2 << 1 << 0xFFFDu;
    QTest::newRow("overlong euro") << QByteArray("\xF0\x82\x82\xAC") << QByteArray("????") << 4 << 0
                                   << 0xFFFDu;
}

void TestCodepage::badUtf8AndForeignCharactersBecomeQuestionMarks()
{
    QFETCH(QByteArray, utf8);
    QFETCH(QByteArray, bytes);
    QFETCH(int, unmappable);
    QFETCH(int, firstAt);
    QFETCH(uint, first);
    std::string out;
    const codepage::EncodeResult r = codepage::appendUtf8AsCp1250(utf8.toStdString(), out);
    QCOMPARE(QByteArray::fromStdString(out), bytes);
    QCOMPARE(int(r.unmappable), unmappable);
    if (unmappable) {
        QCOMPARE(int(r.firstUnmappableAt), firstAt);
        if (first != 0xFFFD) // what a malformed sequence is reported as is up to the codec
            QCOMPARE(uint(r.firstUnmappable), first);
    }
}

void TestCodepage::fingerprintIsXxh64OfPiecesOfAnySize_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint64>("hash");
    // Published values of XXH64 with seed 0, around the 32-byte stripe and the 8- and 4-byte tails.
    QTest::newRow("empty") << QByteArray() << 0xEF46DB3751D8E999ULL;
    QTest::newRow("abc") << QByteArray("abc") << 0x44BC2CF5AD770999ULL;
    QTest::newRow("31 bytes") << QByteArray(".NET now has non-crypto hashing") << 0xD8444D7806DFDE0EULL;
    QTest::newRow("44 bytes") << QByteArray("12345678901234567890123456789012345678901234")
                              << 0xCA5C1B5B9061279FULL;
    QTest::newRow("3 stripes") << QByteArray("This string has 32 ASCII bytes..").repeated(3)
                               << 0x975E3E6FE7E67FBCULL;
}

void TestCodepage::fingerprintIsXxh64OfPiecesOfAnySize()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint64, hash);
    for (qsizetype piece : {1, 5, 31, 33, 1000}) {
        FingerprintTaker taker;
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            taker.add(reinterpret_cast<const unsigned char *>(bytes.constData()) + at,
                      std::size_t(std::min(piece, bytes.size() - at)));
        QCOMPARE(taker.result(), (Fingerprint{std::uint64_t(bytes.size()), hash}));
    }
}

QTEST_APPLESS_MAIN(TestCodepage)
#include "tst_codepage.moc"
