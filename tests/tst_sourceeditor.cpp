// The editor control: exact line breaks, character positions, change signals
// and the CR count behind the line indicator.

#include "modotworz.h"
#include "platform/sourceeditor.h"
#include "scriptedplatform.h"

#include <QTemporaryDir>

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace kesto;

class TestSourceEditor : public QObject {
    Q_OBJECT
private slots:
    void textKeepsEveryLineBreakAsSet_data();
    void textKeepsEveryLineBreakAsSet();
    void enterTypesCrLf();
    void positionsCountUtf16Characters();
    void selTextReplacesSelectionAndPutsCaretAfter();
    void changeSignalIsSynchronousForEveryChange();
    void keyReleaseSignalForEveryKey();
    void positionsAndCrCountMatchNaiveUnderRandomEdits();
    void crCountInsideCrLfAndAtEnds();
    void failedReplacementKeepsOldText();
    void chunkedReplacementKeepsBreaksAcrossChunkEnds();
    void replacedTextIsNoUndoStepNorStyledButEditsAfterItUndo();
    void loadedFileCountsMatchNaiveCounts_data();
    void loadedFileCountsMatchNaiveCounts();
};

void TestSourceEditor::textKeepsEveryLineBreakAsSet_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("crlf") << QStringLiteral("mov a,b\r\nadd c\r\n");
    QTest::newRow("mixed") << QStringLiteral("a\rb\nc\r\nd\n\r\r\n\n");
    QTest::newRow("nul") << QString::fromUtf16(u"a\0b\r\n", 5);
    QTest::newRow("polish") << QStringLiteral("zażółć gęślą jaźń\r\nZAŻÓŁĆ");
}

void TestSourceEditor::textKeepsEveryLineBreakAsSet()
{
    QFETCH(QString, text);
    SourceEditor e;
    e.setText(text);
    QCOMPARE(e.text(), text);
    QCOMPARE(e.length(), text.size());
}

void TestSourceEditor::enterTypesCrLf()
{
    SourceEditor e;
    e.setText(QStringLiteral("ab"));
    e.setSelStart(1);
    QTest::keyClick(&e, Qt::Key_Return);
    QCOMPARE(e.text(), QStringLiteral("a\r\nb"));
    QCOMPARE(e.selStart(), 3);
}

void TestSourceEditor::positionsCountUtf16Characters()
{
    SourceEditor e;
    // ą and ł are two UTF-8 bytes each, the emoji four bytes and two UTF-16 units.
    e.setText(QStringLiteral("ął\r\nx😀y\nz"));
    QCOMPARE(e.length(), 10);
    e.setSelStart(4);
    QCOMPARE(e.selStart(), 4);
    e.setSelLength(4);
    QCOMPARE(e.selLength(), 4);
    QCOMPARE(e.selText(), QStringLiteral("x😀y"));
    e.setSelStart(100);
    QCOMPARE(e.selStart(), 10);
    QCOMPARE(e.selLength(), 0);
    e.setSelStart(0);
    e.setSelLength(1000);
    QCOMPARE(e.selLength(), 10);
}

void TestSourceEditor::selTextReplacesSelectionAndPutsCaretAfter()
{
    SourceEditor e;
    e.setText(QStringLiteral("abcdef"));
    e.setSelStart(1);
    e.setSelLength(3);
    e.setSelText(QStringLiteral("X\nY\rZ"));
    QCOMPARE(e.text(), QStringLiteral("aX\nY\rZef"));
    QCOMPARE(e.selStart(), 6);
    QCOMPARE(e.selLength(), 0);
    // Nothing selected: inserts at the caret.
    e.setSelText(QStringLiteral("ą"));
    QCOMPARE(e.text(), QStringLiteral("aX\nY\rZąef"));
    // Empty replacement with no selection changes nothing.
    QSignalSpy spy(&e, &SourceEditor::changed);
    e.setSelText(QString());
    QCOMPARE(spy.count(), 0);
}

void TestSourceEditor::changeSignalIsSynchronousForEveryChange()
{
    SourceEditor e;
    int changes = 0;
    connect(&e, &SourceEditor::changed, this, [&] { ++changes; });
    e.setText(QStringLiteral("abc"));
    QCOMPARE(changes, 1); // one whole replacement, one signal, before setText returns
    e.setSelStart(3);
    e.setSelText(QStringLiteral("d"));
    QCOMPARE(changes, 2);
    QTest::keyClick(&e, Qt::Key_E);
    QCOMPARE(changes, 3);
    QTest::keyClick(&e, Qt::Key_Backspace);
    QCOMPARE(changes, 4);
    QTest::keyClick(&e, Qt::Key_Left); // moves only
    QCOMPARE(changes, 4);
    e.undo(); // the control's own paths report too
    QCOMPARE(changes, 5);
    QCOMPARE(e.text(), QStringLiteral("abcde"));
}

void TestSourceEditor::keyReleaseSignalForEveryKey()
{
    SourceEditor e;
    QSignalSpy spy(&e, &SourceEditor::keyReleased);
    for (Qt::Key k : {Qt::Key_A, Qt::Key_Left, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_Shift, Qt::Key_F5})
        QTest::keyClick(&e, k);
    QCOMPARE(spy.count(), 6);
}

static qsizetype naiveCr(const QString &text, qsizetype n) { return text.left(n).count(u'\r'); }

void TestSourceEditor::positionsAndCrCountMatchNaiveUnderRandomEdits()
{
    const QStringList pieces = {QStringLiteral("\r"),   QStringLiteral("\n"), QStringLiteral("\r\n"),
                                QStringLiteral("ab"),   QStringLiteral("ż"),  QStringLiteral("x\r\ny\nz\r"),
                                QStringLiteral("\n\r"), QStringLiteral("😀ą")};
    QRandomGenerator rng(20261207);
    SourceEditor e;
    e.setText(QStringLiteral("start\r\nline\nthree\r"));
    for (int step = 0; step < 1500; ++step) {
        const qsizetype len = e.length();
        e.setSelStart(rng.bounded(int(len) + 1));
        e.setSelLength(rng.bounded(4));
        const int op = rng.bounded(8);
        if (op == 0)
            e.undo();
        else if (op < 3)
            e.setSelText(QString());
        else
            e.setSelText(pieces.at(rng.bounded(int(pieces.size()))));
        const QString text = e.text();
        for (int probe = 0; probe < 5; ++probe) {
            const qsizetype pos = rng.bounded(int(text.size()) + 1);
            QCOMPARE(e.crCountBefore(pos), naiveCr(text, pos));
        }
        QCOMPARE(e.crCount(), naiveCr(text, text.size()));
        QCOMPARE(e.length(), text.size());
        // Character positions survive the round trip through the control's bytes.
        const qsizetype pos = rng.bounded(int(text.size()) + 1);
        if (pos == 0 || pos == text.size() || !text.at(pos).isLowSurrogate()) {
            e.setSelStart(pos);
            QCOMPARE(e.selStart(), pos);
            QCOMPARE(e.text().left(pos), text.left(pos));
        }
    }
}

void TestSourceEditor::crCountInsideCrLfAndAtEnds()
{
    SourceEditor e;
    e.setText(QStringLiteral("a\r\nb\r\n"));
    QCOMPARE(e.crCountBefore(0), 0);
    QCOMPARE(e.crCountBefore(1), 0); // before the CR
    QCOMPARE(e.crCountBefore(2), 1); // between CR and LF
    QCOMPARE(e.crCountBefore(3), 1);
    QCOMPARE(e.crCountBefore(6), 2);
    e.setText(QStringLiteral("a\nb\nc"));
    QCOMPARE(e.crCount(), 0);
}

void TestSourceEditor::failedReplacementKeepsOldText()
{
    SourceEditor e;
    e.setText(QStringLiteral("stary\r\ntekst"));
    e.setSelStart(7);
    QSignalSpy spy(&e, &SourceEditor::changed);
    int calls = 0;
    const bool ok = e.replaceText([&](TextChunk &chunk) {
        if (++calls > 1)
            return -1; // the read fails after one chunk
        chunk.utf8 = "nowy\r\n";
        chunk.utf16Units = 6;
        return 1;
    });
    QVERIFY(!ok);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(e.text(), QStringLiteral("stary\r\ntekst"));
    QCOMPARE(e.length(), 12);
    QCOMPARE(e.selStart(), 7);
    QTest::keyClick(&e, Qt::Key_X); // the old document is alive and editable
    QCOMPARE(e.text(), QStringLiteral("stary\r\nxtekst"));
    QCOMPARE(spy.count(), 1);
}

void TestSourceEditor::chunkedReplacementKeepsBreaksAcrossChunkEnds()
{
    // A CR LF split between two chunks is still one line break.
    const std::vector<std::string> pieces = {"a\r", "\nb\r", "\n\nc"};
    std::size_t i = 0;
    SourceEditor e;
    QVERIFY(e.replaceText([&](TextChunk &chunk) {
        if (i == pieces.size())
            return 0;
        chunk.utf8 = pieces[i++];
        chunk.utf16Units = qsizetype(chunk.utf8.size());
        chunk.loneLf = i == 3 ? 1 : 0;
        return 1;
    }));
    QCOMPARE(e.text(), QStringLiteral("a\r\nb\r\n\nc"));
    QCOMPARE(e.crCount(), 2);
    QCOMPARE(e.crCountBefore(4), 1);
    QCOMPARE(e.length(), 8);
}

// A loaded text is the start of the history, not a step in it, and it is
// kept without a style byte per character (half the memory of a large
// file); the editing that follows is recorded as usual.
void TestSourceEditor::replacedTextIsNoUndoStepNorStyledButEditsAfterItUndo()
{
    SourceEditor e;
    e.setText(QStringLiteral("stary"));
    e.setText(QStringLiteral("nowy\r\n"));
    QVERIFY(!e.isUndoAvailable());
    QCOMPARE(e.SendScintilla(QsciScintillaBase::SCI_GETDOCUMENTOPTIONS) &
                 QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE,
             long(QsciScintillaBase::SC_DOCUMENTOPTION_STYLES_NONE));
    e.setSelStart(6);
    QTest::keyClick(&e, Qt::Key_X);
    QCOMPARE(e.text(), QStringLiteral("nowy\r\nx"));
    QVERIFY(e.isUndoAvailable());
    e.undo();
    QCOMPARE(e.text(), QStringLiteral("nowy\r\n"));
    QCOMPARE(e.length(), 6);
    QVERIFY(!e.isUndoAvailable());
}

void TestSourceEditor::loadedFileCountsMatchNaiveCounts_data()
{
    QTest::addColumn<bool>("loneLfs");
    QTest::newRow("CR LF and lone CR only") << false;
    QTest::newRow("with lone LFs") << true;
}

// Open counts what the editor keeps count of while it decodes, a chunk at a
// time; the counts must be those of the whole text, also where a CR LF pair
// or a lone LF sits on the border between two chunks.
void TestSourceEditor::loadedFileCountsMatchNaiveCounts()
{
    QFETCH(bool, loneLfs);
    const QByteArray alphabet = loneLfs ? QByteArray("ab \r\n\xA5\x88\xE4") : QByteArray("ab \r\xA5\x88\xE4");
    QRandomGenerator rng(loneLfs ? 7 : 8);
    QByteArray bytes(5 << 19, 'a'); // two and a half chunks
    for (char &c : bytes)
        c = alphabet.at(rng.bounded(int(alphabet.size())));
    for (qsizetype border : {qsizetype(1) << 20, qsizetype(2) << 20}) {
        bytes[border - 1] = '\r';
        bytes[border] = '\n';
    }
    if (loneLfs)
        bytes[(3 << 20) / 2] = '\n', bytes[(3 << 20) / 2 - 1] = 'x';
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.asm"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();

    SourceEditor e;
    ScriptedPlatform platform;
    QVERIFY(modOtworz::LoadSourceFile(path, e, platform, nullptr));
    QCOMPARE(e.length(), bytes.size()); // one character per byte
    QCOMPARE(e.crCount(), bytes.count('\r'));
    for (int probe = 0; probe < 40; ++probe) {
        const qsizetype pos = rng.bounded(int(bytes.size()) + 1);
        QCOMPARE(e.crCountBefore(pos), bytes.left(pos).count('\r'));
    }
    for (qsizetype pos : {qsizetype(1) << 20, (qsizetype(1) << 20) + 1, bytes.size()})
        QCOMPARE(e.crCountBefore(pos), bytes.left(pos).count('\r'));
}

QTEST_MAIN(TestSourceEditor)
#include "tst_sourceeditor.moc"
