// The first change marks the document; the line indicator follows the caret.

#include "testsupport.h"

using namespace kesto;

class TestChangeTracking : public QObject {
    Q_OBJECT
private slots:
    void firstChangeMarksDocumentOnce();
    void keysThatChangeNothingOnlyRefreshIndicator();
    void editAfterCompileClearsCompiled();
    void lineIndicatorCountsCarriageReturns_data();
    void lineIndicatorCountsCarriageReturns();
    void selectionShowsItsFirstLineFromEitherEnd();
    void replacingWholeTextEndsClean();
};

void TestChangeTracking::firstChangeMarksDocumentOnce()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.doc.docCompiled = true;
    QTest::keyClick(w.txtEdit, Qt::Key_A);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm] *"));
    QVERIFY(w.doc.docChanged);
    QVERIFY(!w.doc.docCompiled);
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 1"));
    QTest::keyClick(w.txtEdit, Qt::Key_Return);
    QTest::keyClick(w.txtEdit, Qt::Key_B);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm] *"));
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 2"));
}

void TestChangeTracking::keysThatChangeNothingOnlyRefreshIndicator()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.txtEdit->setText(QStringLiteral("a\r\nb\r\nc"));
    w.doc.docChanged = false;
    w.setWindowTitle(QStringLiteral("KESTO IDE [x]"));
    w.txtEdit->setSelStart(0);
    for (Qt::Key k : {Qt::Key_Down, Qt::Key_Down, Qt::Key_End, Qt::Key_Shift, Qt::Key_F5}) {
        QTest::keyClick(w.txtEdit, k);
    }
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 3"));
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [x]"));
    QVERIFY(!w.doc.docChanged);
    // A caret moved without a key (as by the mouse) waits for the next refresh.
    w.txtEdit->setSelStart(0);
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 3"));
    w.showxy();
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 1"));
}

void TestChangeTracking::editAfterCompileClearsCompiled()
{
    WindowFixture f;
    useToolsFolder(f, f.path(QStringLiteral("tools")));
    EditorWin &w = f.open();
    w.Skompiluj();
    QVERIFY(w.doc.docCompiled);
    QVERIFY(!w.doc.docChanged);
    QTest::keyClick(w.txtEdit, Qt::Key_X);
    QVERIFY(!w.doc.docCompiled);
    QVERIFY(w.doc.docChanged);
}

void TestChangeTracking::lineIndicatorCountsCarriageReturns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << "" << 0 << "Linia 1";
    QTest::newRow("end of first line") << "ab\r\ncd" << 2 << "Linia 1";
    QTest::newRow("start of second line") << "ab\r\ncd" << 4 << "Linia 2";
    QTest::newRow("between CR and LF") << "ab\r\ncd" << 3 << "Linia 2";
    // Each break the editor shows counts: a lone LF too.
    QTest::newRow("lone LF counted") << "a\nb\nc" << 5 << "Linia 3";
    QTest::newRow("lone CR counted") << "a\rb\rc" << 5 << "Linia 3";
    QTest::newRow("twelfth line") << QString("x\r\n").repeated(11) + "y" << 34 << "Linia 12";
    QTest::newRow("polish before caret") << "żółć\r\nąę\r\nx" << 11 << "Linia 3";
}

void TestChangeTracking::lineIndicatorCountsCarriageReturns()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    WindowFixture f;
    EditorWin &w = f.open();
    w.txtEdit->setText(text);
    w.txtEdit->setSelStart(caret);
    w.showxy();
    QTEST(w.Text2->text(), "shown");
}

void TestChangeTracking::selectionShowsItsFirstLineFromEitherEnd()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.txtEdit->setText(QStringLiteral("1\r\n2\r\n3333\r\n4444\r\n5555\r\n6"));
    const long from = 7, to = 22; // inside line 3 .. inside line 5
    w.txtEdit->SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(from), to);
    w.showxy();
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 3"));
    w.txtEdit->SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(to), from);
    w.showxy();
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia 3"));
}

void TestChangeTracking::replacingWholeTextEndsClean()
{
    WindowFixture f;
    EditorWin &w = f.open();
    QTest::keyClick(w.txtEdit, Qt::Key_Q);
    w.doc.docCompiled = true;
    w.NowyDoc();
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(!w.doc.docChanged);
    QVERIFY(!w.doc.docCompiled);
    QVERIFY(w.doc.docUntitled);
    QCOMPARE(w.Text1->text(), QStringLiteral("Utworzono nowy dokument"));
    QTest::keyClick(w.txtEdit, Qt::Key_Q);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm] *"));
}

QTEST_MAIN(TestChangeTracking)
#include "tst_changetracking.moc"
