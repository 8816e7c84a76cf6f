// The Edit menu and the About box: through the menu items, through keys sent
// to the focused editor, and through the real clipboard.

#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QRegularExpression>

using namespace kesto;

using namespace Qt::StringLiterals;

namespace {

// Text and selection of a saved, compiled document.
void prepare(EditorWin &win, const QString &text, int start, int length)
{
    win.txtEdit->setText(text);
    win.txtEdit->setSelStart(start);
    win.txtEdit->setSelLength(length);
    win.doc.docChanged = false;
    win.doc.docCompiled = true;
}

// A null text stands for a clipboard that holds no text at all.
void putOnClipboard(ScriptedPlatform &platform, const QString &text)
{
    platform.clipboardHasText = !text.isNull();
    platform.clipboard = text;
}

void checkEditor(EditorWin &win, const QString &text, int start, int length, bool changed)
{
    QCOMPARE(win.txtEdit->text(), text);
    QCOMPARE(win.txtEdit->selStart(), start);
    QCOMPARE(win.txtEdit->selLength(), length);
    QCOMPARE(win.doc.docChanged, changed);
    QCOMPARE(win.doc.docCompiled, !changed);
}

} // namespace

class TestEditCommands : public QObject {
    Q_OBJECT
private slots:
    void commandActsOnSelectionAndClipboard_data();
    void commandActsOnSelectionAndClipboard();
    void cutThenPasteRestoresTextAndMarksChanged();
    void middleClickPastesPrimarySelectionExactlyWhereClicked();
    void droppedTextKeepsLineBreaksAndMarksChanged();
    void aboutShowsSameFiveLinesEveryTimeAndChangesNothingElse();
    void realClipboardHoldsOnlyCopiedTextWithExactLineBreaks();
};

void TestEditCommands::commandActsOnSelectionAndClipboard_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("keys"); // the item's shortcut and the control's own clipboard keys
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("textAfter");
    QTest::addColumn<int>("startAfter");
    QTest::addColumn<int>("lengthAfter");
    QTest::addColumn<QString>("clipboardAfter");
    QTest::addColumn<bool>("changed");
    const QString none;
    const QString empty = u""_s;
    const char *cut = "Ctrl+X; Shift+Del", *copy = "Ctrl+C; Ctrl+Ins", *paste = "Ctrl+V; Shift+Ins";
    auto row = [](const char *name) -> QTestData & { return QTest::newRow(name); };

    // clang-format off
    row("cut, nothing selected") << "mnuWytnij" << cut << "abc" << 1 << 0 << "old" << "abc" << 1 << 0 << empty << false;
    row("cut, selection") << "mnuWytnij" << cut << "ab\r\ncd" << 1 << 3 << "old" << "acd" << 1 << 0 << "b\r\n" << true;
    row("cut, empty editor") << "mnuWytnij" << "" << "" << 0 << 0 << none << "" << 0 << 0 << empty << false;
    row("cut, polish letters") << "mnuWytnij" << "" << "zażółć" << 2 << 3 << none << "zać" << 2 << 0 << "żół" << true;
    row("copy, nothing selected") << "mnuKopiuj" << copy << "abc" << 1 << 0 << "old" << "abc" << 1 << 0 << empty << false;
    row("copy, selection") << "mnuKopiuj" << copy << "ab\r\ncd" << 1 << 3 << none << "ab\r\ncd" << 1 << 3 << "b\r\n" << false;
    row("paste, no text, nothing selected") << "mnuWklej" << paste << "abc" << 1 << 0 << none << "abc" << 1 << 0 << none << false;
    row("paste, no text, selection") << "mnuWklej" << paste << "abc" << 1 << 1 << none << "ac" << 1 << 0 << none << true;
    row("paste keeps CR, LF and CR LF") << "mnuWklej" << paste << "ab" << 1 << 0 << "x\ry\nz\r\n" << "ax\ry\nz\r\nb" << 8 << 0
                                         << "x\ry\nz\r\n" << true;
    row("paste replaces the selection") << "mnuWklej" << paste << "abcdef" << 2 << 2 << "ŁÓ" << "abŁÓef" << 4 << 0 << "ŁÓ" << true;
    row("paste, empty editor") << "mnuWklej" << "" << "" << 0 << 0 << "nop\r\n" << "nop\r\n" << 5 << 0 << "nop\r\n" << true;
    row("select all") << "mnuWszystko" << "Ctrl+A" << "a\r\nbę" << 3 << 0 << "old" << "a\r\nbę" << 0 << 5 << "old" << false;
    row("select all, empty editor") << "mnuWszystko" << "Ctrl+A" << "" << 0 << 0 << none << "" << 0 << 0 << none << false;
    row("delete, nothing selected") << "mnuUsuń" << "" << "abc" << 1 << 0 << "old" << "abc" << 1 << 0 << "old" << false;
    row("delete, caret before CR LF") << "mnuUsuń" << "" << "a\r\nb" << 1 << 0 << none << "a\r\nb" << 1 << 0 << none << false;
    row("delete, selection") << "mnuUsuń" << "" << "a\r\nżb" << 1 << 3 << none << "ab" << 1 << 0 << none << true;
    // clang-format on
}

void TestEditCommands::commandActsOnSelectionAndClipboard()
{
    QFETCH(QString, item);
    QFETCH(QString, keys);
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, clipboard);
    QFETCH(QString, textAfter);
    QFETCH(int, startAfter);
    QFETCH(int, lengthAfter);
    QFETCH(QString, clipboardAfter);
    QFETCH(bool, changed);
    // Once through the menu item, then once for each key sent to the focused editor.
    const QList<QKeySequence> sequences =
        keys.isEmpty() ? QList<QKeySequence>() : QKeySequence::listFromString(keys);
    for (qsizetype i = -1; i < sequences.size(); ++i) {
        WindowFixture f;
        EditorWin &win = f.open();
        if (i >= 0) {
            QVERIFY(showActive(win));
            win.txtEdit->setFocus();
        }
        prepare(win, text, start, length);
        putOnClipboard(f.platform, clipboard);
        // Had the control used its own clipboard code, this would change.
        QGuiApplication::clipboard()->setText(u"system"_s);
        const QString status = win.Text1->text();

        if (i < 0)
            win.findChild<QAction *>(item)->trigger();
        else
            QTest::keySequence(win.txtEdit, sequences[i]);

        checkEditor(win, textAfter, startAfter, lengthAfter, changed);
        QCOMPARE(f.platform.clipboardHasText, !clipboardAfter.isNull());
        QCOMPARE(f.platform.clipboardText(), clipboardAfter);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"system"_s);
        QCOMPARE(win.Text1->text(), status);
        QVERIFY(f.platform.boxes.isEmpty());
        if (i >= 0)
            QCOMPARE(QApplication::focusWidget(), win.txtEdit);
        if (QTest::currentTestFailed())
            return qWarning("... through %s", qPrintable(i < 0 ? item : sequences[i].toString()));
    }
}

void TestEditCommands::cutThenPasteRestoresTextAndMarksChanged()
{
    WindowFixture f;
    EditorWin &win = f.open();
    prepare(win, u"mov a,b\r\nłąka\r\n"_s, 5, 6);
    win.menu.mnuWytnij->trigger();
    win.menu.mnuWklej->trigger();
    checkEditor(win, u"mov a,b\r\nłąka\r\n"_s, 11, 0, true);
    QVERIFY(win.windowTitle().endsWith(u" *"_s));
}

void TestEditCommands::middleClickPastesPrimarySelectionExactlyWhereClicked()
{
    WindowFixture f;
    EditorWin &win = f.open();
    QVERIFY(showExposed(win));
    prepare(win, u"ab\r\ncd"_s, 0, 2);
    const QPoint click = pointBefore(*win.txtEdit, 5);

    // Where the system has no primary selection (Windows), nothing happens.
    QTest::mouseClick(win.txtEdit->viewport(), Qt::MiddleButton, Qt::NoModifier, click);
    checkEditor(win, u"ab\r\ncd"_s, 0, 2, false);

    // Inserted at the click point, not over the selection, with every line
    // break as it was.
    f.platform.primarySelection = u"A\rB\nC"_s;
    putOnClipboard(f.platform, u"clipboard"_s);
    QTest::mouseClick(win.txtEdit->viewport(), Qt::MiddleButton, Qt::NoModifier, click);
    checkEditor(win, u"ab\r\ncA\rB\nCd"_s, 10, 0, true);
    QVERIFY(win.windowTitle().endsWith(u" *"_s));
    QCOMPARE(win.Text2->text(), u"Linia 4"_s);
}

// Text from another program, dropped as a copy or as a move.
void TestEditCommands::droppedTextKeepsLineBreaksAndMarksChanged()
{
    for (Qt::KeyboardModifiers held : {Qt::NoModifier, Qt::ShiftModifier}) {
        WindowFixture f;
        EditorWin &win = f.open();
        QVERIFY(showExposed(win));
        prepare(win, u"ab\r\ncd"_s, 0, 2);
        const QPoint at = pointBefore(*win.txtEdit, 5);
        QMimeData mime;
        mime.setText(u"A\rB\nC"_s);
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, held);
        QCoreApplication::sendEvent(win.txtEdit->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, actions, &mime, Qt::LeftButton, held);
        QCoreApplication::sendEvent(win.txtEdit->viewport(), &drop);
        QVERIFY(drop.isAccepted());
        // The dropped text ends up selected.
        checkEditor(win, u"ab\r\ncA\rB\nCd"_s, 5, 5, true);
        QVERIFY(win.windowTitle().endsWith(u" *"_s));
        QCOMPARE(win.Text2->text(), u"Linia 2"_s);
        if (QTest::currentTestFailed())
            return qWarning("... dropped with modifiers %d", int(held));
    }
}

void TestEditCommands::aboutShowsSameFiveLinesEveryTimeAndChangesNothingElse()
{
    WindowFixture f;
    EditorWin &win = f.open();
    prepare(win, u"ab\r\ncd"_s, 1, 2);
    win.doc.hexFile = u"prog.hex"_s;
    putOnClipboard(f.platform, u"clip"_s);
    win.doc.aboutText = u"stale"_s;
    const auto snapshot = [&] {
        const DocumentState &d = win.doc;
        return QStringList{
            win.txtEdit->text(),
            win.txtEdit->selText(),
            QString::number(win.txtEdit->selStart()),
            win.Text1->text(),
            win.Text2->text(),
            win.windowTitle(),
            d.hexFile,
            d.comPort,
            d.fileFilter,
            f.platform.clipboardText(),
            QString::asprintf("%d%d%d%d", d.docChanged, d.docUntitled, d.docCompiled, d.exitCancel)};
    };
    const QStringList before = snapshot();

    win.menu.mnuInfo->trigger();
    win.menu.mnuInfo->trigger();

    QCOMPARE(f.platform.boxes.size(), 2);
    for (const ShownBox &box : f.platform.boxes)
        expectBox(box, win.doc.aboutText, Buttons::Ok, Icon::Information, u"KESTOIDE"_s);
    // Five lines, no stray CR or LF inside them, and exactly these separators.
    static const QRegularExpression layout(
        u"^([^\\r\\n]+)\\r\\n([^\\r\\n]+)\\r\\r\\n([^\\r\\n]+)\\r\\n([^\\r\\n]+)\\r\\n\\r\\n([^\\r\\n]+)$"_s);
    const QRegularExpressionMatch lines = layout.match(win.doc.aboutText);
    QVERIFY2(lines.hasMatch(), qPrintable(win.doc.aboutText));
    QVERIFY(lines.captured(1).contains(u"KESTO IDE"_s));
    QVERIFY(lines.captured(1).contains(u"2026"_s));
    QCOMPARE(lines.captured(2), u"Zintegrowane środowisko programistyczne"_s);
    QCOMPARE(lines.captured(3), u"Program stworzony na potrzeby pracowni mikrokomputerowej"_s);
    QCOMPARE(snapshot(), before);
}

void TestEditCommands::realClipboardHoldsOnlyCopiedTextWithExactLineBreaks()
{
    WindowFixture f; // the temporary current directory with its settings file
    kesto::QtPlatform real;
    EditorWin win(real);
    QClipboard *clipboard = QGuiApplication::clipboard();
    auto *picture = new QMimeData;
    picture->setImageData(QImage(4, 4, QImage::Format_RGB32));
    clipboard->setMimeData(picture);

    // No text on the clipboard: Paste removes the selection and inserts nothing.
    win.txtEdit->setText(u"a\rb\nc\r\nd"_s);
    win.txtEdit->setSelStart(3);
    win.txtEdit->setSelLength(1);
    win.mnuWklej();
    QCOMPARE(win.txtEdit->text(), u"a\rbc\r\nd"_s);

    win.mnuWszystko();
    win.mnuKopiuj();
    QCOMPARE(clipboard->text(), u"a\rbc\r\nd"_s);
    QVERIFY(!clipboard->mimeData()->hasImage());
    win.mnuWytnij();
    QCOMPARE(win.txtEdit->text(), QString());
    win.mnuWklej();
    QCOMPARE(win.txtEdit->text(), u"a\rbc\r\nd"_s);

    // Nothing selected: the clipboard ends up holding an empty text.
    win.mnuKopiuj();
    QVERIFY(clipboard->mimeData()->hasText());
    QCOMPARE(clipboard->text(), QString());
}

QTEST_MAIN(TestEditCommands)
#include "tst_editcommands.moc"
