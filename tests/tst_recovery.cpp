// The recovery copy of unsaved text: written while the text is unsaved,
// removed once it is saved or thrown away, offered back after a run that was
// cut short. A window destroyed without its close logic stands for a crash:
// its lock goes, its copy stays.

#include "disk/recoverycopy.h"
#include "processend.h"
#include "testsupport.h"

#include <QDateTime>
#include <QProcess>
#include <QSysInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kesto;
using namespace Qt::StringLiterals;

namespace {

// NUL, a lone CR, a lone LF, Polish letters and characters Windows-1250
// cannot hold: all must come back as they were.
const char specialBytes[] = "zażółć\0gęślą\rjaźń\nŻÓŁW\r\n€→😀 END";
const QByteArray specialUtf8(specialBytes, sizeof specialBytes - 1);
const QString special = QString::fromUtf8(specialUtf8);

QString folderOf(const WindowFixture &f) { return f.stateHome.path() + QStringLiteral("/kestoide"); }

QStringList entries(const WindowFixture &f, const QString &pattern)
{
    return QDir(folderOf(f)).entryList({pattern}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

QByteArray editorBytes(const EditorWin &w)
{
    const std::string_view text = w.txtEdit->utf8();
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// Writes the window's copy now and waits until it is on disk.
void writeCopy(EditorWin &w)
{
    w.writeRecoveryCopy();
    w.recoveryKeeper.waitIdle();
}

// A window that had unsaved text when its run was cut short; returns where its copy was.
QString crashWith(WindowFixture &f, const QString &text)
{
    EditorWin &w = f.open();
    w.txtEdit->setSelText(text);
    writeCopy(w);
    const QString copy = w.recoveryKeeper.copyPath();
    f.win.reset();
    return copy;
}

// A new run: its window, shown, starts its session (with `file` to open).
EditorWin &restart(WindowFixture &f, const QString &file = {})
{
    f.win.reset();
    f.platform.boxes.clear();
    EditorWin &w = f.open();
    w.startSession(file);
    return w;
}

QString question(const QString &path, const QString &copy)
{
    const recovery::ReadResult read = recovery::readFile(copy);
    const QString when =
        QDateTime::fromMSecsSinceEpoch(read.copy.writtenMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    return QStringLiteral("Praca programu została przerwana, zanim zapisano tekst w pliku ") + path +
           QStringLiteral(". Zachowała się jego kopia z ") + when +
           QStringLiteral(".\r\r\nCzy chcesz ją odtworzyć?");
}

// endPastTheCloseLogicKeepsTheText's child: waits for a signal (exit(1) for 0,
// as Qt when the display goes), `special` unsaved unless `how` is -1.
int endChild(int how)
{
    ScriptedPlatform platform;
    EditorWin w(platform);
    const EndWatch watch([&w] { w.keepUnsavedTextAtEnd(); });
    w.recoveryTimer.setInterval(3'600'000); // only the end writes the copy
    if (how >= 0)
        w.txtEdit->setSelText(special);
    if (how == 0)
        QTimer::singleShot(0, [] { std::exit(1); });
    std::puts("ready");
    std::fflush(stdout);
    return QApplication::exec();
}

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace

class TestRecovery : public QObject {
    Q_OBJECT
private slots:
    void copyFollowsTypingAndHoldsTextExactly();
    void leftoverIsOfferedOnceAndComesBackAsChangedDocument();
    void untitledTextComesBackUntitled();
    void mostRecentLeftoverFirstAndNoDeletesIt();
    void cancelKeepsTheCopyUntouchedForTheNextStart();
    void copyGoesOnlyWhenUnsavedTextIsGone();
    void failingCopiesAreToldWhenTheyStartAndStop();
    void endPastTheCloseLogicKeepsTheText_data();
    void endPastTheCloseLogicKeepsTheText();
    void damagedLeftoversAreSetAsideWithOneBoxEach();
    void everyFlippedBitOfACopyIsCaught();
#ifdef Q_OS_UNIX // a home folder the lab's computers share; on Windows the copies are in the local one
    void anotherHostsCopyWaitsUntilItsLockIsStale();
#endif
};

void TestRecovery::copyFollowsTypingAndHoldsTextExactly()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString file = f.path(QStringLiteral("prog.asm"));
    QVERIFY(openThroughDialog(f, file, "START: NOP\r\n"));
    w.recoveryTimer.setInterval(200);
    w.txtEdit->setSelStart(w.txtEdit->length());
    f.platform.clipboardSetText(special);
    w.mnuWklej();

    // Typing that never pauses long enough for a wait-for-quiet to fire
    // still gets its copy.
    bool seenWhileTyping = false;
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(w.txtEdit, Qt::Key_A);
        QTest::qWait(40);
        seenWhileTyping = seenWhileTyping || !entries(f, QStringLiteral("*.copy")).isEmpty();
    }
    QVERIFY(seenWhileTyping);
    const QByteArray expected = "START: NOP\r\n" + specialUtf8 + QByteArray(30, 'a');
    QCOMPARE(editorBytes(w), expected);
    recovery::ReadResult read;
    QTRY_VERIFY((read = recovery::readFile(w.recoveryKeeper.copyPath())).copy.text == expected.toStdString());
    QCOMPARE(read.error, recovery::ReadError::None);
    QCOMPARE(QString::fromStdString(read.copy.path), file);
    QVERIFY(!read.copy.untitled);
    QCOMPARE(read.copy.identity, w.diskFile);
    QVERIFY(read.copy.identity.exists);
    QVERIFY(qAbs(read.copy.writtenMs - QDateTime::currentMSecsSinceEpoch()) < 60'000);
    // The control's text lies on both sides of its gap after an edit in the middle.
    w.txtEdit->setSelStart(5);
    QTest::keyClick(w.txtEdit, Qt::Key_X);
    writeCopy(w);
    QCOMPARE(QByteArray::fromStdString(recovery::readFile(w.recoveryKeeper.copyPath()).copy.text),
             expected.left(5) + 'x' + expected.mid(5));
#ifdef Q_OS_UNIX // lab machines are shared; on Windows the folder is the user's own
    const auto mode = [](const QString &path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    };
    QCOMPARE(mode(folderOf(f)), 0700u);
    QCOMPARE(mode(w.recoveryKeeper.copyPath()), 0600u);
#endif
}

void TestRecovery::leftoverIsOfferedOnceAndComesBackAsChangedDocument()
{
    WindowFixture f;
    EditorWin &crashed = f.open();
    const QString file = f.path(QStringLiteral("prog.asm"));
    QVERIFY(openThroughDialog(f, file, "START: NOP\r\n"));
    const FileIdentity identity = crashed.diskFile;
    crashed.txtEdit->setSelText(special);
    writeCopy(crashed);
    const QByteArray text = editorBytes(crashed);
    const QString copy = crashed.recoveryKeeper.copyPath();

    // A copy whose instance still runs is not left over.
    {
        EditorWin other(f.platform);
        other.startSession(QString());
        QCOMPARE(f.platform.boxes.size(), 0);
        const QStringList locks = entries(f, QStringLiteral("*.lock"));
        QCOMPARE(locks.size(), 2);
        const QByteArray lock = readAll(folderOf(f) + u'/' + locks.constFirst());
        const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
#ifdef Q_OS_UNIX
        QVERIFY(lock.startsWith(QSysInfo::machineHostName().toUtf8() + '\n' + pid));
#else
        QVERIFY(lock.startsWith(pid + '\n')); // a QLockFile's
#endif
    }

    const QString expectedQuestion = question(file, copy);
    f.win.reset();
    f.platform.answer(Button::Yes);
    EditorWin &w = restart(f, file); // as a double-click on the file starts it
    QCOMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0], expectedQuestion, Buttons::YesNoCancel, Icon::Exclamation,
              QStringLiteral("KESTO IDE"));
    QCOMPARE(editorBytes(w), text);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + file + QStringLiteral("] *"));
    QCOMPARE(w.dlgPlik.FileName, file);
    QVERIFY(w.doc.docChanged);
    QVERIFY(!w.doc.docUntitled);
    QCOMPARE(w.diskFile, identity);
    QCOMPARE(w.Text1->text(), QStringLiteral("Odtworzono niezapisany tekst pliku: \"") + file + u'"');

    // This run holds it now, until a save that writes ends it.
    EditorWin other(f.platform);
    other.startSession(QString());
    QCOMPARE(f.platform.boxes.size(), 1);
    f.platform.answer(Button::Ok); // yes, with '?' for what Windows-1250 lacks
    QVERIFY(w.mnuZapisz());
    w.recoveryKeeper.waitIdle();
    QCOMPARE(entries(f, QStringLiteral("*.copy")), QStringList());
}

void TestRecovery::untitledTextComesBackUntitled()
{
    WindowFixture f;
    const QString copy = crashWith(f, special);
    const QString expectedQuestion = question(QStringLiteral("noname.asm"), copy);
    // A file named at start, there or not yet, asks before it takes the text's place.
    QVERIFY(writeFile(f.path(u"other.asm"_s), "NOP\r\n"));
    for (const QString &named : {u"other.asm"_s, u"nowy.asm"_s}) {
        f.platform.answer(Button::Yes);
        f.platform.answer(Button::Cancel);
        QCOMPARE(restart(f, f.path(named)).txtEdit->text(), special);
        QCOMPARE(f.platform.boxes.size(), 2);
    }
    f.platform.answer(Button::Yes);
    EditorWin &w = restart(f);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, expectedQuestion);
    QCOMPARE(w.txtEdit->text(), special);
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm] *"));
    QVERIFY(w.doc.docUntitled);
    QVERIFY(w.doc.docChanged);
    QVERIFY(!w.diskFile.exists);

    // Saved under a name of its own, the text needs no copy any more.
    const QString saved = f.path(QStringLiteral("saved.asm"));
    f.platform.chooseFile(saved);
    f.platform.answer(Button::Ok); // yes, with '?' for what Windows-1250 lacks
    QVERIFY(w.mnuZapisz());
    w.recoveryKeeper.waitIdle();
    QCOMPARE(entries(f, QStringLiteral("*.copy")), QStringList());
    restart(f);
    QCOMPARE(f.platform.boxes.size(), 0);
}

void TestRecovery::mostRecentLeftoverFirstAndNoDeletesIt()
{
    WindowFixture f;
    setModified(crashWith(f, QStringLiteral("oldest")), QDateTime::currentDateTime().addSecs(-7200));
    const QString older = crashWith(f, QStringLiteral("older"));
    setModified(older, QDateTime::currentDateTime().addSecs(-3600));
    const QString newer = crashWith(f, QStringLiteral("newer"));

    // Every copy in one start, the newest first; No deletes it and asks
    // about the next, Cancel leaves that one and the rest for later.
    const QString newerQuestion = question(QStringLiteral("noname.asm"), newer);
    f.platform.answer(Button::No);
    f.platform.answer(Button::Cancel);
    EditorWin &first = restart(f);
    QCOMPARE(f.platform.boxes.size(), 2);
    QCOMPARE(f.platform.boxes[0].text, newerQuestion);
    QCOMPARE(first.txtEdit->text(), QString());
    QCOMPARE(first.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(!first.doc.docChanged);
    first.recoveryKeeper.waitIdle();
    QCOMPARE(entries(f, QStringLiteral("*.copy")).size(), 2);

    f.platform.answer(Button::Yes);
    EditorWin &second = restart(f);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(second.txtEdit->text(), QStringLiteral("older"));

    // The one left waits for the next start.
    EditorWin third(f.platform);
    f.platform.answer(Button::Yes);
    third.startSession(QString());
    QCOMPARE(f.platform.boxes.size(), 2);
    QCOMPARE(third.txtEdit->text(), QStringLiteral("oldest"));
}

void TestRecovery::cancelKeepsTheCopyUntouchedForTheNextStart()
{
    WindowFixture f;
    crashWith(f, special);
    f.platform.answer(Button::Cancel); // what Escape and the close button answer too
    EditorWin &w = restart(f);
    // This run's text never takes its place, and goes when thrown away.
    w.txtEdit->setSelText(QStringLiteral("this run"));
    writeCopy(w);
    f.platform.answer(Button::No);
    w.mnuZakoncz();
    f.platform.answer(Button::Yes);
    EditorWin &again = restart(f);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(again.txtEdit->text(), special);
}

void TestRecovery::copyGoesOnlyWhenUnsavedTextIsGone()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const auto copyKept = [&] {
        writeCopy(w);
        return entries(f, QStringLiteral("*.copy")).size() == 1;
    };
    w.txtEdit->setSelText(special);
    QVERIFY(copyKept());

    // Each time the text stays, and so does its copy.
    f.platform.answer(Button::No);
    f.platform.cancelDialog();
    w.mnuOtworz();
    QVERIFY(copyKept());
    f.platform.answer(Button::No);
    f.platform.chooseFile(f.path(QStringLiteral("missing.asm")));
    f.platform.answer(Button::Ok);
    w.mnuOtworz();
    QVERIFY(copyKept());
    f.platform.answer(Button::Yes);
    f.platform.chooseFile(f.path(QStringLiteral("no folder/x.asm")));
    f.platform.answer(Button::Ok);
    w.mnuNowy();
    QVERIFY(copyKept());
    f.platform.answer(Button::Cancel);
    w.mnuZakoncz();
    QVERIFY(copyKept());
    QCOMPARE(f.platform.processEnded, 0);
    QCOMPARE(w.txtEdit->text(), special);
    QCOMPARE(f.platform.unexpectedBoxes + f.platform.unexpectedDialogs, 0);

    // Open that loads a file throws the text away.
    const QString file = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(file, "NOP\r\n"));
    f.platform.answer(Button::No);
    f.platform.chooseFile(file);
    w.mnuOtworz();
    w.recoveryKeeper.waitIdle();
    QCOMPARE(entries(f, QStringLiteral("*.copy")), QStringList());

    // Closing with No, a large copy still being written: nothing may stay
    // or come back once the process is to end, not even the lock.
    w.txtEdit->setSelText(QStringLiteral("zażółć gęślą jaźń\r\n").repeated(500000));
    w.writeRecoveryCopy();
    f.platform.answer(Button::No);
    w.mnuZakoncz();
    QCOMPARE(f.platform.processEnded, 1);
    QCOMPARE(entries(f, QStringLiteral("*")), QStringList());
    QTest::qWait(300);
    w.txtEdit->setSelText(QStringLiteral("x"));
    w.writeRecoveryCopy();
    QTest::qWait(100);
    QCOMPARE(entries(f, QStringLiteral("*")), QStringList());
}

void TestRecovery::failingCopiesAreToldWhenTheyStartAndStop()
{
    const QString failing = QStringLiteral("Nie można zapisać kopii niezapisanego tekstu (");
    const QString again = QStringLiteral("Kopia niezapisanego tekstu znów się zapisuje");
    WindowFixture f;
    QVERIFY(writeFile(folderOf(f), "no folder for copies can be made"));
    EditorWin &w = f.open();
    const auto type = [&w](const char *text) {
        w.txtEdit->setSelText(QString::fromLatin1(text));
        writeCopy(w);
        QCoreApplication::processEvents();
    };
    type("a");
    QCOMPARE(w.Text1->text(), failing + QStringLiteral("brak kopii)"));
    QVERIFY(QFile::remove(folderOf(f)));
    type("b");
    QCOMPARE(w.Text1->text(), again);
    const qint64 taken = recovery::readFile(w.recoveryKeeper.copyPath()).copy.writtenMs;
    // The writer cannot make its temporary file: told once, with the copy still there.
#ifdef Q_OS_UNIX
    const QString blocker = w.recoveryKeeper.copyPath() + QStringLiteral(".tmp");
    QVERIFY(QDir().mkdir(blocker));
#else // the copy cannot take the new one's place while another program holds it
    QFile blocker(w.recoveryKeeper.copyPath());
    QVERIFY(blocker.open(QIODevice::ReadOnly));
#endif
    type("c");
    QCOMPARE(w.Text1->text(), failing + QStringLiteral("ostatnia udana: ") +
                                  QDateTime::fromMSecsSinceEpoch(taken).toString(QStringLiteral("HH:mm:ss")) +
                                  u')');
    w.mnuInf();
    type("d");
    QVERIFY(w.Text1->text().startsWith(u"Plik:"));
    // Working again while a command's report shows: the news waits for a change of text.
#ifdef Q_OS_UNIX
    QVERIFY(QDir().rmdir(blocker));
#else
    blocker.close();
#endif
    w.mnuInf();
    writeCopy(w);
    QCoreApplication::processEvents();
    QVERIFY(w.Text1->text().startsWith(u"Plik:"));
    type("e");
    QCOMPARE(w.Text1->text(), again);
}

void TestRecovery::endPastTheCloseLogicKeepsTheText_data()
{
    QTest::addColumn<int>("signal"); // 0: exit(1)
    QTest::addColumn<bool>("unsaved");
#ifdef Q_OS_UNIX // the system's signals are POSIX
    QTest::newRow("SIGTERM") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP") << int(SIGHUP) << true;
#endif
    QTest::newRow("exit(1)") << 0 << true;
#ifdef Q_OS_UNIX
    QTest::newRow("SIGTERM, all saved") << int(SIGTERM) << false;
#endif
}

void TestRecovery::endPastTheCloseLogicKeepsTheText()
{
    QFETCH(int, signal);
    QFETCH(bool, unsaved);
    WindowFixture f; // its folder for copies is the child's too
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--end"), QString::number(unsaved ? signal : -1)});
    QVERIFY(child.waitForReadyRead(60'000));
#ifdef Q_OS_UNIX
    if (signal != 0)
        QCOMPARE(::kill(static_cast<pid_t>(child.processId()), signal), 0);
#endif
    QVERIFY(child.waitForFinished(60'000));
    f.platform.answer(Button::Yes);
    EditorWin &w = restart(f);
    QCOMPARE(f.platform.boxes.size(), unsaved ? 1 : 0);
    QCOMPARE(w.txtEdit->text(), unsaved ? special : QString());
}

void TestRecovery::damagedLeftoversAreSetAsideWithOneBoxEach()
{
    WindowFixture f;
    const QString good = crashWith(f, special);
    const QByteArray whole = readAll(good);
    QVERIFY(QFile::remove(good));
    const QString folder = folderOf(f);
    const auto leftover = [&](int n) {
        return folder + QStringLiteral("/%1.copy").arg(n, 16, 10, QChar(u'0'));
    };
    QByteArray flipped = whole;
    flipped[flipped.size() - 3] = static_cast<char>(flipped[flipped.size() - 3] ^ 0x20);
    QVERIFY(writeFile(leftover(1), flipped));
    QVERIFY(writeFile(leftover(2), whole.left(whole.size() - 1)));
    QVERIFY(writeFile(leftover(3), whole.left(20)));
    QVERIFY(writeFile(leftover(4), QByteArray()));
    {
        // Sparse: larger than the program opens, without the disk space.
        QFile huge(leftover(5));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write(whole) == whole.size());
        QVERIFY(huge.resize((qint64(1) << 30) + (qint64(1) << 20)));
    }
    QVERIFY(QDir().mkdir(leftover(6)));
#ifdef Q_OS_UNIX // FIFOs are POSIX
    QCOMPARE(::mkfifo(QFile::encodeName(leftover(7)).constData(), 0600), 0);
    const int damaged = 7;
#else
    const int damaged = 6;
#endif

    const QString told = QStringLiteral("Kopia niezapisanego tekstu z przerwanej pracy programu jest "
                                        "uszkodzona i nie może być odtworzona.\r\nOdłożono ją jako: ");
    for (int start = 1; start <= damaged; ++start)
        f.platform.answer(Button::Ok);
    EditorWin &w = restart(f); // all in one start
    QCOMPARE(f.platform.boxes.size(), damaged);
    for (const ShownBox &box : f.platform.boxes) {
        // Told where it was set aside.
        const QString aside = box.text.mid(told.size());
        QVERIFY2(aside.startsWith(folder + u'/') && aside.endsWith(u".damaged") && QFileInfo::exists(aside),
                 qPrintable(aside));
        expectBox(box, told + aside, Buttons::Ok, Icon::Exclamation, QStringLiteral("KESTOIDE"));
        QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
        QCOMPARE(w.txtEdit->text(), QString());
        QVERIFY(!w.doc.docChanged);
    }
    QCOMPARE(entries(f, QStringLiteral("*.copy")), QStringList());
    QCOMPARE(entries(f, QStringLiteral("*.damaged")).size(), damaged);
    restart(f);
    QCOMPARE(f.platform.boxes.size(), 0);
}

void TestRecovery::everyFlippedBitOfACopyIsCaught()
{
    QCOMPARE(recovery::crc32(0, "123456789", 9), 0xCBF43926u);
    recovery::Copy copy;
    copy.path = "/home/student/próba.asm";
    copy.text = specialUtf8.toStdString();
    copy.identity = {true, 2049, 1234567, 12, 1700000000123456789, 1700000001987654321};
    copy.writtenMs = 1700000000123;
    const std::string whole = recovery::encodeHead(copy, copy.text) + copy.text;
    const recovery::ReadResult read = recovery::decode(whole);
    QCOMPARE(read.error, recovery::ReadError::None);
    QCOMPARE(read.copy.text, copy.text);
    QCOMPARE(read.copy.path, copy.path);
    QCOMPARE(read.copy.identity, copy.identity);
    QCOMPARE(read.copy.writtenMs, copy.writtenMs);
    QVERIFY(!read.copy.untitled);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string damaged = whole;
            damaged[i] = static_cast<char>(damaged[i] ^ (1 << bit));
            QVERIFY2(recovery::decode(damaged).error != recovery::ReadError::None,
                     qPrintable(QStringLiteral("byte %1 bit %2").arg(i).arg(bit)));
        }
    }
    for (std::size_t size = 0; size < whole.size(); ++size)
        QVERIFY(recovery::decode(std::string_view(whole).substr(0, size)).error != recovery::ReadError::None);

    // A copy of the former format, without the change time, is still read.
    const recovery::Copy earlier = recovery::readFile(QFINDTESTDATA("fuzz/corpus/recovery-copy")).copy;
    QVERIFY(earlier.path == copy.path && earlier.identity.exists && earlier.identity.ctimeNs == 0);
}

#ifdef Q_OS_UNIX
void TestRecovery::anotherHostsCopyWaitsUntilItsLockIsStale()
{
    // On a network home mounted without lock support every lock is free;
    // the time of the lock file tells whether its instance still runs.
    WindowFixture f;
    const QString copy = crashWith(f, QStringLiteral("elsewhere"));
    const QString lock = copy.chopped(5) + QStringLiteral(".lock");
    QVERIFY(writeFile(lock, "lab-pc-17\n4242\n"));
    restart(f);
    QCOMPARE(f.platform.boxes.size(), 0);
    QVERIFY(QFileInfo::exists(copy));

    setModified(lock, QDateTime::currentDateTime().addSecs(-600));
    f.platform.answer(Button::Yes);
    EditorWin &w = restart(f);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("elsewhere"));
    QVERIFY(!QFileInfo::exists(lock));
}
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArrayView(argv[1]) == "--end")
        return endChild(std::atoi(argv[2]));
    TestRecovery test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
