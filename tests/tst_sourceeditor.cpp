// The editor control: exact line breaks, character positions, change signals
// and the CR count behind the line indicator.

#include "modotworz.h"
#include "platform/sourceeditor.h"
#include "scriptedplatform.h"
#include "testsupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kesto;

class TestSourceEditor : public QObject {
    Q_OBJECT
private slots:
    void textKeepsEveryLineBreakAsSet_data();
    void textKeepsEveryLineBreakAsSet();
    void keysEditOnlyAsInPlainTextBox_data();
    void keysEditOnlyAsInPlainTextBox();
    void altGrTypesPolishLetters();
    void mouseWithCtrlOrAltSelectsOneRange();
    void droppedUrlsAreSignalledNotInserted();
    void positionsCountUtf16Characters();
    void selTextReplacesSelectionAndPutsCaretAfter();
    void changeSignalIsSynchronousForEveryChange();
    void keyReleaseSignalForEveryKey();
    void positionsAndBreaksMatchNaiveUnderRandomEdits();
    void breaksInsideCrLfAndAtEnds();
    void failedReplacementKeepsOldText();
    void chunkedReplacementKeepsBreaksAcrossChunkEnds();
    void replacedTextIsNoUndoStepNorStyledButEditsAfterItUndo();
    void keyPressedDuringReplacementWaitsForItsEnd();
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

void TestSourceEditor::keysEditOnlyAsInPlainTextBox_data()
{
    // The keys go to "ab\r\ncd\r\nef" with the caret between c and d; an X
    // typed after them shows where the caret went and what was selected.
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("textAfter");
    const QString untouched = QStringLiteral("ab\r\ncXd\r\nef");
    const auto row = [](const char *keys, const QString &textAfter) {
        QTest::newRow(keys) << QString::fromLatin1(keys) << textAfter;
    };
    row("Left", QStringLiteral("ab\r\nXcd\r\nef"));
    row("Right", QStringLiteral("ab\r\ncdX\r\nef"));
    row("Up", QStringLiteral("aXb\r\ncd\r\nef"));
    row("Down", QStringLiteral("ab\r\ncd\r\neXf"));
    row("Ctrl+Up", QStringLiteral("aXb\r\ncd\r\nef"));
    row("Ctrl+Down", QStringLiteral("ab\r\ncd\r\neXf"));
    row("Home", QStringLiteral("ab\r\nXcd\r\nef"));
    row("End", QStringLiteral("ab\r\ncdX\r\nef"));
    // The whole text is on one page: a page up or down goes to its start or end.
    row("PgUp", QStringLiteral("Xab\r\ncd\r\nef"));
    row("PgDown", QStringLiteral("ab\r\ncd\r\nefX"));
    row("Ctrl+Left", QStringLiteral("ab\r\nXcd\r\nef"));
    row("Ctrl+Right", QStringLiteral("ab\r\ncdX\r\nef"));
    row("Ctrl+Home", QStringLiteral("Xab\r\ncd\r\nef"));
    row("Ctrl+End", QStringLiteral("ab\r\ncd\r\nefX"));
    row("Shift+Left", QStringLiteral("ab\r\nXd\r\nef"));
    row("Shift+Right", QStringLiteral("ab\r\ncX\r\nef"));
    row("Shift+Up", QStringLiteral("aXd\r\nef"));
    row("Shift+Down", QStringLiteral("ab\r\ncXf"));
    row("Ctrl+Shift+Up", QStringLiteral("aXd\r\nef"));
    row("Ctrl+Shift+Down", QStringLiteral("ab\r\ncXf"));
    row("Shift+Home", QStringLiteral("ab\r\nXd\r\nef"));
    row("Shift+End", QStringLiteral("ab\r\ncX\r\nef"));
    row("Shift+PgUp", QStringLiteral("Xd\r\nef"));
    row("Shift+PgDown", QStringLiteral("ab\r\ncX"));
    row("Ctrl+Shift+Left", QStringLiteral("ab\r\nXd\r\nef"));
    row("Ctrl+Shift+Right", QStringLiteral("ab\r\ncX\r\nef"));
    row("Ctrl+Shift+Home", QStringLiteral("Xd\r\nef"));
    row("Ctrl+Shift+End", QStringLiteral("ab\r\ncX"));
    row("Backspace", QStringLiteral("ab\r\nXd\r\nef"));
    row("Shift+Backspace", QStringLiteral("ab\r\nXd\r\nef"));
    row("Home, Backspace", QStringLiteral("abXcd\r\nef"));
    row("Del", QStringLiteral("ab\r\ncX\r\nef"));
    row("End, Del", QStringLiteral("ab\r\ncdXef"));
    row("Return", QStringLiteral("ab\r\nc\r\nXd\r\nef"));
    row("Shift+Return", QStringLiteral("ab\r\nc\r\nXd\r\nef"));
    row("Enter", QStringLiteral("ab\r\nc\r\nXd\r\nef"));
    row("Tab", QStringLiteral("ab\r\nc\tXd\r\nef"));
    row("Shift+Up, Tab", QStringLiteral("a\tXd\r\nef"));
    row("Shift+Up, Shift+Tab", QStringLiteral("aXd\r\nef"));
    row("Shift+Tab", untouched);
    row("Ctrl+Tab", untouched);
    // Alt+Backspace undoes, as in the plain text box, and pressed again puts
    // back what it took; with nothing to undo (the text was loaded), it does nothing.
    row("Del, Alt+Backspace", QStringLiteral("ab\r\ncdX\r\nef"));
    row("Del, Alt+Backspace, Alt+Backspace", QStringLiteral("ab\r\ncX\r\nef"));
    row("Del, Alt+Backspace, Alt+Backspace, Alt+Backspace", QStringLiteral("ab\r\ncdX\r\nef"));
    row("Alt+Backspace", untouched);
    // The control's own keys that are gone: each leaves text and caret alone.
    for (const char *keys : {"Ctrl+D",
                             "Ctrl+L",
                             "Ctrl+Shift+L",
                             "Ctrl+T",
                             "Ctrl+Shift+T",
                             "Ctrl+U",
                             "Ctrl+Shift+U",
                             "Ctrl+Z",
                             "Ctrl+Y",
                             "Ctrl+Shift+Z",
                             "Ins",
                             "Alt+Shift+Down",
                             "Alt+Shift+Up",
                             "Alt+Shift+Left",
                             "Alt+D",
                             "Alt+Shift+D",
                             "Ctrl+1",
                             "Ctrl+Backspace",
                             "Ctrl+Del",
                             "Ctrl+Shift+Backspace",
                             "Ctrl+Shift+Del",
                             "Esc",
                             "Ctrl+Return",
                             "Alt+Home",
                             "Alt+End",
                             "Ctrl+[",
                             "Ctrl+]",
                             "Ctrl+/"})
        row(keys, untouched);
}

// Real key events to the focused editor.
void TestSourceEditor::keysEditOnlyAsInPlainTextBox()
{
    QFETCH(QString, keys);
    QFETCH(QString, textAfter);
    SourceEditor e;
    e.show();
    QApplication::setActiveWindow(&e);
    QVERIFY(QTest::qWaitForWindowActive(&e));
    QTRY_COMPARE(QApplication::focusWidget(), &e);
    e.setText(QStringLiteral("ab\r\ncd\r\nef"));
    e.setSelStart(5);
    QTest::keySequence(QApplication::focusWidget(), QKeySequence::fromString(keys));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("X"));
    QCOMPARE(e.text(), textAfter);
}

// AltGr+A as it arrives from X11 (no Alt, the group switch) and from
// Windows (Ctrl+Alt): the letter is typed, unlike with Alt alone.
void TestSourceEditor::altGrTypesPolishLetters()
{
    SourceEditor e;
    // Qt names a letter's key by its capital: U+0104 for ą.
    QTest::sendKeyEvent(QTest::Click, &e, Qt::Key(0x104), QStringLiteral("ą"), Qt::GroupSwitchModifier);
#ifdef Q_OS_WIN
    QTest::sendKeyEvent(QTest::Click, &e, Qt::Key_A, QStringLiteral("ą"),
                        Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(e.text(), QStringLiteral("ąą"));
#else
    QCOMPARE(e.text(), QStringLiteral("ą"));
#endif
}

void TestSourceEditor::mouseWithCtrlOrAltSelectsOneRange()
{
    SourceEditor e;
    e.resize(400, 300);
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    e.setText(QStringLiteral("abc\r\ndef\r\nghi"));
    const QPoint from = pointBefore(e, 1), to = pointBefore(e, 12);
    for (Qt::KeyboardModifier held : {Qt::ControlModifier, Qt::AltModifier}) {
        e.setSelStart(0);
        // Ctrl (on X11) or Alt (elsewhere) with a drag would select a rectangle.
        QTest::mousePress(e.viewport(), Qt::LeftButton, held, from);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(e.viewport(), from + (to - from) * step / 4);
        QTest::mouseRelease(e.viewport(), Qt::LeftButton, held, to);
        QCOMPARE(e.SendScintilla(QsciScintillaBase::SCI_SELECTIONISRECTANGLE), 0L);
        QCOMPARE(e.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONS), 1L);
        QCOMPARE(e.selStart(), 1);
        QCOMPARE(e.selLength(), 11);
        // A click with Ctrl adds no second caret.
        QTest::mouseClick(e.viewport(), Qt::LeftButton, held, pointBefore(e, 6));
        QCOMPARE(e.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONS), 1L);
    }
}

void TestSourceEditor::droppedUrlsAreSignalledNotInserted()
{
    SourceEditor e;
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    e.setText(QStringLiteral("ab"));
    QSignalSpy dropped(&e, &SourceEditor::urlsDropped);
    QSignalSpy changed(&e, &SourceEditor::changed);
    const QList<QUrl> urls = {QUrl::fromLocalFile(QStringLiteral("/tmp/prog.asm")),
                              QUrl::fromLocalFile(QStringLiteral("/tmp/b.asm"))};
    QMimeData mime;
    mime.setUrls(urls);
    mime.setText(QStringLiteral("/tmp/prog.asm")); // file managers offer the names as text too
    const QPoint at = pointBefore(e, 1);
    // Accepted while dragged over, so the pointer shows that it may drop.
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.viewport(), &move);
    QVERIFY(move.isAccepted());
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.viewport(), &drop);
    QVERIFY(drop.isAccepted());
    // Taken as a copy even when a move is proposed: after a move the file
    // manager would delete the file.
    QCOMPARE(drop.dropAction(), Qt::CopyAction);
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(dropped.at(0).at(0).value<QList<QUrl>>(), urls);
    QDropEvent moveOnly(at, Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(e.viewport(), &moveOnly);
    QVERIFY(!moveOnly.isAccepted());
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(e.text(), QStringLiteral("ab"));
    QCOMPARE(changed.count(), 0);
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
    e.undo(); // and what undo took comes back
    QCOMPARE(changes, 6);
    QCOMPARE(e.text(), QStringLiteral("abcd"));
}

void TestSourceEditor::keyReleaseSignalForEveryKey()
{
    SourceEditor e;
    QSignalSpy spy(&e, &SourceEditor::keyReleased);
    for (Qt::Key k : {Qt::Key_A, Qt::Key_Left, Qt::Key_Home, Qt::Key_PageDown, Qt::Key_Shift, Qt::Key_F5})
        QTest::keyClick(&e, k);
    QCOMPARE(spy.count(), 6);
}

// Line breaks as the editor shows them: CR LF, a lone CR, a lone LF.
template <typename Text> static qsizetype naiveBreaks(const Text &text, qsizetype n)
{
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < n; ++i)
        breaks += text.at(i) == '\r' || (text.at(i) == '\n' && (i == 0 || text.at(i - 1) != '\r'));
    return breaks;
}

void TestSourceEditor::positionsAndBreaksMatchNaiveUnderRandomEdits()
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
            QCOMPARE(e.breaksBefore(pos), naiveBreaks(text, pos));
        }
        QCOMPARE(e.breakCount(), naiveBreaks(text, text.size()));
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

void TestSourceEditor::breaksInsideCrLfAndAtEnds()
{
    SourceEditor e;
    e.setText(QStringLiteral("a\r\nb\r\n"));
    QCOMPARE(e.breaksBefore(0), 0);
    QCOMPARE(e.breaksBefore(1), 0); // before the CR
    QCOMPARE(e.breaksBefore(2), 1); // between CR and LF
    QCOMPARE(e.breaksBefore(3), 1);
    QCOMPARE(e.breaksBefore(6), 2);
    // A lone LF or CR is a break of its own, as the editor shows it.
    e.setText(QStringLiteral("a\nb\nc\rd"));
    QCOMPARE(e.breakCount(), 3);
    QCOMPARE(e.breaksBefore(4), 2);
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
        return 1;
    }));
    QCOMPARE(e.text(), QStringLiteral("a\r\nb\r\n\nc"));
    QCOMPARE(e.breakCount(), 3);
    QCOMPARE(e.breaksBefore(4), 1);
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
    QVERIFY(!e.isUndoAvailable() && e.canUndo()); // the right-click menu's Cofnij stays on
}

// The window takes no input while a file loads: a key pressed meanwhile
// waits, and lands in the whole new text, never in half of it or in the old.
void TestSourceEditor::keyPressedDuringReplacementWaitsForItsEnd()
{
    SourceEditor e;
    e.setText(QStringLiteral("stary"));
    int calls = 0;
    QVERIFY(e.replaceText([&](TextChunk &chunk) {
        if (++calls > 2)
            return 0;
        if (calls == 2) {
            QCoreApplication::postEvent(
                &e, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x")));
            QCoreApplication::postEvent(
                &e, new QKeyEvent(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x")));
        }
        chunk.utf8 = calls == 1 ? "nowy " : "tekst";
        chunk.utf16Units = 5;
        return 1;
    }));
    QCOMPARE(e.text(), QStringLiteral("nowy tekst"));
    QCoreApplication::processEvents();
    QCOMPARE(e.text(), QStringLiteral("xnowy tekst"));
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
    QCOMPARE(e.breakCount(), naiveBreaks(bytes, bytes.size()));
    for (int probe = 0; probe < 40; ++probe) {
        const qsizetype pos = rng.bounded(int(bytes.size()) + 1);
        QCOMPARE(e.breaksBefore(pos), naiveBreaks(bytes, pos));
    }
    for (qsizetype pos : {qsizetype(1) << 20, (qsizetype(1) << 20) + 1, bytes.size()})
        QCOMPARE(e.breaksBefore(pos), naiveBreaks(bytes, pos));
}

QTEST_MAIN(TestSourceEditor)
#include "tst_sourceeditor.moc"
