// Start-up, the settings file in the current directory, and the port items.

#include "testsupport.h"

#include <QAction>

#include <functional>

#include <sys/stat.h>

using namespace kesto;

namespace {
const QString warning = QStringLiteral("Nie można otworzyć pliku konfiguracyjnego!\r\n"
                                       "Został wybrany domyśly port COM 1 do komunikacji z systemem KESTO");

QList<bool> marks(const EditorWin &w)
{
    return {w.menu.mnuCOM1->isChecked(), w.menu.mnuCOM2->isChecked(), w.menu.mnuCOM3->isChecked(),
            w.menu.mnuCOM4->isChecked()};
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void missingSettingsWarnsOnceAndCreatesPortOne();
    void settingsFileGivesPortFromFirstCharacter_data();
    void settingsFileGivesPortFromFirstCharacter();
    void unreadableSettingsNeverHang();
    void startsAsUntitledWithDialogPrepared();
    void appDirEndsInOneSeparator_data();
    void appDirEndsInOneSeparator();
    void portItemsMarkOneAndStoreIt();
    void portItemWritesIntoCurrentDirectoryOfTheMoment();
    void unwritableSettingsReportedOnStatusLine();
};

void TestStartup::missingSettingsWarnsOnceAndCreatesPortOne()
{
    WindowFixture f(nullptr, false);
    f.platform.answer(kesto::Button::Ok);
    EditorWin &w = f.open();
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, warning);
    QCOMPARE(f.platform.boxes[0].buttons, kesto::Buttons::Ok);
    QCOMPARE(f.platform.boxes[0].icon, kesto::Icon::Exclamation);
    QCOMPARE(f.platform.boxes[0].title, QStringLiteral("KESTOIDE"));
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("1\r\n"));
    QCOMPARE(w.doc.comPort, QStringLiteral("1"));
    QCOMPARE(w.Text1->text(), QStringLiteral("Używany port: 1"));
    QCOMPARE(marks(w), QList<bool>({true, false, false, false}));
}

void TestStartup::settingsFileGivesPortFromFirstCharacter_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("marked"); // 0: none
    QTest::newRow("34 crlf") << QByteArray("34\r\n") << "3" << 3;
    QTest::newRow("4 alone") << QByteArray("4") << "4" << 4;
    QTest::newRow("2 crlf") << QByteArray("2\r\n") << "2" << 2;
    QTest::newRow("empty") << QByteArray() << "" << 0;
    QTest::newRow("blank") << QByteArray(" 1\r\n") << " " << 0;
    QTest::newRow("line end") << QByteArray("\r\n") << "\r" << 0;
    QTest::newRow("5") << QByteArray("5\r\n") << "5" << 0;
    QTest::newRow("binary") << QByteArray("\xA5\x00\xFF", 3) << "Ą" << 0;
}

void TestStartup::settingsFileGivesPortFromFirstCharacter()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, port);
    QFETCH(int, marked);
    WindowFixture f(&content);
    EditorWin &w = f.open();
    QCOMPARE(f.platform.boxes.size(), 0);
    QCOMPARE(w.doc.comPort, port);
    QCOMPARE(w.Text1->text(), QStringLiteral("Używany port: ") + port);
    QList<bool> expected(4, false);
    if (marked)
        expected[marked - 1] = true;
    QCOMPARE(marks(w), expected);
    QCOMPARE(readAll(f.path("kestoide.ini")), content); // reading never rewrites it
}

void TestStartup::unreadableSettingsNeverHang()
{
    // A directory and a FIFO without a writer: the FIFO must not block start-up.
    const std::function<bool(const QByteArray &)> makeUnreadable[] = {
        [](const QByteArray &path) { return QDir().mkdir(QFile::decodeName(path)); },
        [](const QByteArray &path) { return ::mkfifo(path.constData(), 0600) == 0; }};
    for (const auto &make : makeUnreadable) {
        WindowFixture f(nullptr, false);
        QVERIFY(make(QFile::encodeName(f.path("kestoide.ini"))));
        f.platform.answer(Button::Ok);
        EditorWin &w = f.open();
        QCOMPARE(f.platform.boxes.size(), 1);
        QCOMPARE(f.platform.boxes[0].text, warning);
        QCOMPARE(w.doc.comPort, QStringLiteral("1"));
        QCOMPARE(w.Text1->text(), QStringLiteral("Używany port: 1"));
        QCOMPARE(marks(w), QList<bool>({true, false, false, false}));
    }
}

void TestStartup::startsAsUntitledWithDialogPrepared()
{
    WindowFixture f;
    EditorWin &w = f.open();
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(!w.doc.docChanged);
    QVERIFY(w.doc.docUntitled);
    QVERIFY(!w.doc.docCompiled);
    QCOMPARE(w.dlgPlik.FileName, QStringLiteral("noname.asm"));
    QCOMPARE(w.dlgPlik.Flags, 0x40006);
    QCOMPARE(w.dlgPlik.FilterIndex, 2);
    const QString filter = QStringLiteral("Wszystkie pliki (*.*)|*.*|Pliki assemblera KESTO (*.asm)|*.asm|");
    QCOMPARE(w.dlgPlik.Filter, filter);
    QCOMPARE(w.doc.fileFilter, filter);
    QCOMPARE(w.txtEdit->text(), QString());
    QCOMPARE(w.Text2->text(), QStringLiteral("0,0"));
}

void TestStartup::appDirEndsInOneSeparator_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("appDir");
    QTest::newRow("folder") << "/opt/kesto"
                            << "/opt/kesto/";
    QTest::newRow("root") << "/"
                          << "/";
}

void TestStartup::appDirEndsInOneSeparator()
{
    QFETCH(QString, programDir);
    WindowFixture f;
    f.platform.appDir = programDir;
    QTEST(f.open().doc.appDir, "appDir");
}

void TestStartup::portItemsMarkOneAndStoreIt()
{
    const QByteArray three("3\r\n");
    WindowFixture f(&three);
    EditorWin &w = f.open();
    w.menu.mnuCOM2->trigger();
    QCOMPARE(marks(w), QList<bool>({false, true, false, false}));
    QCOMPARE(w.doc.comPort, QStringLiteral("2"));
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("2\r\n"));
    QCOMPARE(w.Text1->text(), QStringLiteral("Zapisano ustawienia"));
    // The marked item again: same steps, the file rewritten, still one mark.
    QVERIFY(QFile::remove(f.path("kestoide.ini")));
    w.menu.mnuCOM2->trigger();
    QCOMPARE(marks(w), QList<bool>({false, true, false, false}));
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("2\r\n"));
    w.mnuCOM4();
    QCOMPARE(marks(w), QList<bool>({false, false, false, true}));
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("4\r\n"));
}

void TestStartup::portItemWritesIntoCurrentDirectoryOfTheMoment()
{
    WindowFixture f;
    EditorWin &w = f.open();
    QTemporaryDir other;
    QDir::setCurrent(other.path());
    w.mnuCOM3();
    QCOMPARE(readAll(other.filePath("kestoide.ini")), QByteArray("3\r\n"));
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("1\r\n"));
}

void TestStartup::unwritableSettingsReportedOnStatusLine()
{
    // A directory in the settings file's place stops every user, root included.
    WindowFixture f(nullptr, false);
    QVERIFY(QDir().mkdir(f.path("kestoide.ini")));
    f.platform.answer(kesto::Button::Ok);
    EditorWin &w = f.open();
    QCOMPARE(w.Text1->text(), QStringLiteral("Używany port: 1")); // start-up's own report wins
    w.mnuCOM3();
    QCOMPARE(w.Text1->text(), QStringLiteral("Błąd podczas zapisywania ustawień"));
    QCOMPARE(w.doc.comPort, QStringLiteral("3"));
    QCOMPARE(marks(w), QList<bool>({false, false, true, false}));
    QVERIFY(QFileInfo(f.path("kestoide.ini")).isDir());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
