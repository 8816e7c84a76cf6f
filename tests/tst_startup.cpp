// Start-up, the settings file in the current directory, and the port items.

#include "disk/fileidentity.h"
#include "testsupport.h"
#include "unprivileged.h"

#include <QAction>
#include <QElapsedTimer>

#include <functional>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <utility>
#else
#include <sys/stat.h>
#endif

using namespace kesto;

namespace {
const QString warning = QStringLiteral("Nie można otworzyć pliku konfiguracyjnego!\r\n"
                                       "Został wybrany domyśly port COM 1 do komunikacji z systemem KESTO");

QList<bool> marks(const EditorWin &w)
{
    return {w.menu.mnuCOM1->isChecked(), w.menu.mnuCOM2->isChecked(), w.menu.mnuCOM3->isChecked(),
            w.menu.mnuCOM4->isChecked()};
}

// Warned once, then port 1 is used and marked.
void expectPortOneWarned(const WindowFixture &f)
{
    QCOMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0], warning, Buttons::Ok, Icon::Exclamation, QStringLiteral("KESTOIDE"));
    QCOMPARE(f.win->doc.comPort, QStringLiteral("1"));
    QCOMPARE(f.win->Text1->text(), QStringLiteral("Używany port: 1"));
    QCOMPARE(marks(*f.win), QList<bool>({true, false, false, false}));
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void missingSettingsWarnsOnceAndCreatesPortOne();
    void settingsFileGivesPortFromFirstCharacter_data();
    void settingsFileGivesPortFromFirstCharacter();
    void unreadableSettingsGivePortOneAndStayAsTheyWere();
    void hugeSettingsFileIsReadByItsFirstByteAtOnce();
    void startsAsUntitledWithDialogPrepared();
    void appDirEndsInOneSeparator_data();
    void appDirEndsInOneSeparator();
    void portItemsMarkOneAndStoreIt();
    void portItemWritesIntoCurrentDirectoryOfTheMoment();
};

void TestStartup::missingSettingsWarnsOnceAndCreatesPortOne()
{
    WindowFixture f(nullptr, false);
    f.platform.answer(kesto::Button::Ok);
    f.open();
    expectPortOneWarned(f);
    QCOMPARE(readAll(f.path("kestoide.ini")), QByteArray("1\r\n"));
}

void TestStartup::settingsFileGivesPortFromFirstCharacter_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QList<bool>>("marks");
    const QList<bool> none(4, false);
    QTest::newRow("34 crlf") << QByteArray("34\r\n") << "3" << QList<bool>{false, false, true, false};
    QTest::newRow("4 alone") << QByteArray("4") << "4" << QList<bool>{false, false, false, true};
    QTest::newRow("2 crlf") << QByteArray("2\r\n") << "2" << QList<bool>{false, true, false, false};
    QTest::newRow("empty") << QByteArray() << "" << none;
    QTest::newRow("blank") << QByteArray(" 1\r\n") << " " << none;
    QTest::newRow("line end") << QByteArray("\r\n") << "\r" << none;
    QTest::newRow("5") << QByteArray("5\r\n") << "5" << none;
    QTest::newRow("binary") << QByteArray("\xA5\x00\xFF", 3) << "Ą" << none;
}

void TestStartup::settingsFileGivesPortFromFirstCharacter()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, port);
    WindowFixture f(&content);
    EditorWin &w = f.open();
    QCOMPARE(f.platform.boxes.size(), 0);
    QCOMPARE(w.doc.comPort, port);
    QCOMPARE(w.Text1->text(), QStringLiteral("Używany port: ") + port);
    QTEST(marks(w), "marks");
    QCOMPARE(readAll(f.path("kestoide.ini")), content); // reading never rewrites it
}

void TestStartup::unreadableSettingsGivePortOneAndStayAsTheyWere()
{
    // A directory; a FIFO without a writer, which must not block start-up; a
    // file the user may not read, which root could.
    RUN_UNPRIVILEGED();
#ifdef Q_OS_WIN
    HANDLE held = INVALID_HANDLE_VALUE;
#endif
    const std::function<bool(const QString &)> makeUnreadable[] = {
        [](const QString &path) { return QDir().mkdir(path); },
#ifdef Q_OS_UNIX // FIFOs and permission bits are POSIX
        [](const QString &path) { return ::mkfifo(native(path).constData(), 0600) == 0; },
        [](const QString &path) { return writeFile(path, "2\r\n") && QFile::setPermissions(path, {}); },
#else
        // Another program holds it open and lets nobody read or replace it.
        [&held](const QString &path) {
            held =
                writeFile(path, "2\r\n")
                    ? CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                  GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                    : INVALID_HANDLE_VALUE;
            return held != INVALID_HANDLE_VALUE;
        },
#endif
    };
    for (const auto &make : makeUnreadable) {
        WindowFixture f(nullptr, false);
        const QString ini = f.path("kestoide.ini");
        QVERIFY(make(ini));
        const FileIdentity before = identityOf(ini);
        f.platform.answer(Button::Ok);
        f.open();
        expectPortOneWarned(f);
        // The port-1 file start-up writes cannot take the place of what is there.
        QCOMPARE(identityOf(ini), before);
#ifdef Q_OS_WIN
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
        if (QFileInfo(ini).isFile())
            QCOMPARE(readAll(ini), QByteArray("2\r\n"));
#endif
    }
}

void TestStartup::hugeSettingsFileIsReadByItsFirstByteAtOnce()
{
    WindowFixture f(nullptr, false);
    const QString ini = f.path(QStringLiteral("kestoide.ini"));
    QFile big(ini); // sparse: takes no room on disk
    QVERIFY(big.open(QIODevice::WriteOnly) && big.write("2\r\n") == 3 && big.resize(qint64(2) << 30));
    big.close();
    QElapsedTimer clock;
    clock.start();
    EditorWin &w = f.open();
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(w.doc.comPort, QStringLiteral("2"));
    QCOMPARE(QFileInfo(ini).size(), qint64(2) << 30);
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
#ifdef Q_OS_WIN
    QTest::newRow("folder") << QStringLiteral("C:\\KESTO IDE") << QStringLiteral("C:\\KESTO IDE\\");
    QTest::newRow("root") << QStringLiteral("C:\\") << QStringLiteral("C:\\");
#else
    QTest::newRow("folder") << QStringLiteral("/opt/kesto") << QStringLiteral("/opt/kesto/");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
#endif
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

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
