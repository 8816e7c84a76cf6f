// Reading and writing real source files: the code-page-852 letters, line ends
// kept byte for byte, things that are not files, and saves that never harm the
// old file.

#include "modotworz.h"
#include "modzapisz.h"
#include "platform/statedir.h"
#include "testsupport.h"

#include <QDirIterator>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kesto;

namespace {

// The reader's and writer's reports: OK only, no icon, the application title.
void expectOneReport(const ScriptedPlatform &platform, const QString &text)
{
    QCOMPARE(platform.boxes.size(), 1);
    QCOMPARE(platform.boxes[0].text, text);
    QCOMPARE(platform.boxes[0].buttons, kesto::Buttons::Ok);
    QCOMPARE(platform.boxes[0].icon, kesto::Icon::None);
    QCOMPARE(platform.boxes[0].title, QStringLiteral("KESTOIDE"));
}

// Every file under `dir` with its contents, to show that a failed save left nothing behind.
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        files.insert(p, QFileInfo(p).isDir() ? QByteArray("<dir>") : readAll(p));
    }
    return files;
}

} // namespace

class TestSourceFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void loadKeepsEveryByteAndConvertsLetters_data();
    void loadKeepsEveryByteAndConvertsLetters();
    void loadRefusesWhatIsNoReadableFile_data();
    void loadRefusesWhatIsNoReadableFile();
    void encodeAddsLineEndOnlyWhenMissing_data();
    void encodeAddsLineEndOnlyWhenMissing();
    void encodeNamesFirstForeignCharacterAndItsLine();
    void saveThenReopenAndSaveIsByteIdentical_data();
    void saveThenReopenAndSaveIsByteIdentical();
    void failedSaveLeavesEveryFileAsItWas_data();
    void failedSaveLeavesEveryFileAsItWas();

private:
    QTemporaryDir m_stateHome;
};

void TestSourceFiles::initTestCase()
{
    // The program's own folder for the backups and records of saves in place.
    QVERIFY(m_stateHome.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_stateHome.path()));
}

void TestSourceFiles::loadKeepsEveryByteAndConvertsLetters_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("mixed line ends") << QByteArray("a\rb\nc\r\n\n\r\r\n")
                                     << QStringLiteral("a\rb\nc\r\n\n\r\r\n");
    QTest::newRow("nul bytes") << QByteArray("a\0b\0\r\n", 6) << QString::fromUtf16(u"a\0b\0\r\n", 6);
    // A DOS file: all 18 letters, then a box drawn with 852 line characters,
    // which come out as the Windows-1250 characters of those bytes.
    QTest::newRow("code page 852")
        << QByteArray("\xA5\xA9\xA2\x98\x88\xBE\xAB\x86\xE4\xA4\xA8\xE0\x97\x9D\xBD\x8D\x8F\xE3\r\n"
                      "\xDA\xC4\xBF\r\n\xB3 \xB3\r\n\xC0\xC4\xD9\r\n")
        << QStringLiteral("ąęóśłżźćńĄĘÓŚŁŻŹĆŃ\r\nÚÄż\r\nł ł\r\nŔÄŮ\r\n");
    // A Windows-1250 file goes through the same table: Ą and Ź turn into ą and Ć.
    QTest::newRow("windows-1250") << QByteArray("\xB9\x9C\xBF\xA5\x8F\x80\x81")
                                  << QStringLiteral("ąśżąĆ€\u0081");
    QTest::newRow("one 10 MB line") << QByteArray(10'000'000, 'x') + "\r\n"
                                    << QString(10'000'000, u'x') + "\r\n";
}

void TestSourceFiles::loadKeepsEveryByteAndConvertsLetters()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.asm"));
    QVERIFY(writeFile(path, bytes));

    SourceEditor editor;
    editor.setText(QStringLiteral("old"));
    ScriptedPlatform platform;
    QVERIFY(modOtworz::LoadSourceFile(path, editor, platform, nullptr));
    QCOMPARE(editor.text(), text);
    QCOMPARE(editor.length(), text.size());
    QVERIFY(platform.boxes.isEmpty());
}

void TestSourceFiles::loadRefusesWhatIsNoReadableFile_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"missing", "directory", "fifo", "device", "over the size limit"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestSourceFiles::loadRefusesWhatIsNoReadableFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("x y.asm"));
    if (kind == u"directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == u"device") {
        path = QStringLiteral("/dev/zero");
        if (!QFileInfo::exists(path))
            QSKIP("no /dev/zero here");
    } else if (kind == u"over the size limit") {
        QFile big(path); // sparse: takes no room on disk
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(modOtworz::maxSourceFileSize + 1));
    }

    // A FIFO with no writer must not stall the window: read off the GUI thread
    // and give up after a while, waking the reader so the test can end.
    auto read = std::async(std::launch::async, [&] { return modOtworz::readSourceFile(path).ok; });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        read.wait();
        QFAIL("reading blocked");
    }
    QVERIFY(!read.get());

    SourceEditor editor;
    editor.setText(QStringLiteral("kept\r\n"));
    ScriptedPlatform platform;
    QVERIFY(!modOtworz::LoadSourceFile(path, editor, platform, nullptr));
    QCOMPARE(editor.text(), QStringLiteral("kept\r\n"));
    expectOneReport(platform, QStringLiteral("Nie można otworzyć pliku: ") + path);
}

void TestSourceFiles::encodeAddsLineEndOnlyWhenMissing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray("\r\n");
    QTest::newRow("abc") << QStringLiteral("abc") << QByteArray("\x61\x62\x63\x0D\x0A");
    QTest::newRow("break inside") << QStringLiteral("a\r\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("ends in CR LF") << QStringLiteral("a\r\n") << QByteArray("a\r\n");
    QTest::newRow("ends in lone CR") << QStringLiteral("a\r") << QByteArray("a\r");
    QTest::newRow("ends in lone LF") << QStringLiteral("a\n") << QByteArray("a\n");
    QTest::newRow("polish in 1250") << QStringLiteral("Zażółć Ą")
                                    << QByteArray("Za\xBF\xF3\xB3\xE6 \xA5\r\n");
    QTest::newRow("nul") << QString::fromUtf16(u"a\0", 2) << QByteArray("a\0\r\n", 4);
}

void TestSourceFiles::encodeAddsLineEndOnlyWhenMissing()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const modZapisz::Encoded e = modZapisz::encodeSourceText(text.toStdString());
    QCOMPARE(QByteArray::fromStdString(e.bytes), bytes);
    QCOMPARE(e.unmappable, std::size_t(0));
}

void TestSourceFiles::encodeNamesFirstForeignCharacterAndItsLine()
{
    // The lone LF starts no line, as in the line indicator.
    const modZapisz::Encoded e =
        modZapisz::encodeSourceText(QStringLiteral("x\r\ny\nz\r\nok 😀 ✓").toStdString());
    QCOMPARE(QByteArray::fromStdString(e.bytes), QByteArray("x\r\ny\nz\r\nok ? ?\r\n"));
    QCOMPARE(e.unmappable, std::size_t(2));
    QCOMPARE(uint(e.firstUnmappable), 0x1F600u);
    QCOMPARE(e.firstUnmappableLine, 3);
}

void TestSourceFiles::saveThenReopenAndSaveIsByteIdentical_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("no line end") << QByteArray("abc") << QByteArray("abc\r\n");
    QTest::newRow("CR LF end") << QByteArray("mov a,b\r\nret\r\n") << QByteArray("mov a,b\r\nret\r\n");
    QTest::newRow("lone CR end") << QByteArray("a\rb\r") << QByteArray("a\rb\r");
    QTest::newRow("lone LF end") << QByteArray("a\nb\n") << QByteArray("a\nb\n");
    QTest::newRow("nul bytes") << QByteArray("a\0b\r\n", 5) << QByteArray("a\0b\r\n", 5);
    QTest::newRow("1250 outside the table")
        << QByteArray("\xB9\xE6\x9C\x81\x83\x90\r\n") << QByteArray("\xB9\xE6\x9C\x81\x83\x90\r\n");
    // The 852 letters are written back in Windows-1250.
    QTest::newRow("852 letters") << QByteArray("\xA5\x88\r\n") << QByteArray("\xB9\xB3\r\n");
}

void TestSourceFiles::saveThenReopenAndSaveIsByteIdentical()
{
    QFETCH(QByteArray, original);
    QFETCH(QByteArray, saved);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.asm"));
    QVERIFY(writeFile(path, original));
    SourceEditor editor;
    ScriptedPlatform platform;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(modOtworz::LoadSourceFile(path, editor, platform, nullptr));
        QVERIFY(modZapisz::SaveSourceFile(path, editor, platform, nullptr));
        QCOMPARE(readAll(path), saved);
    }
    QVERIFY(platform.boxes.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("r.asm")});
}

void TestSourceFiles::failedSaveLeavesEveryFileAsItWas_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"missing folder", "path is a directory", "disk refuses the bytes",
                             "disk refuses the rewrite in place"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestSourceFiles::failedSaveLeavesEveryFileAsItWas()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("old.asm")), "old text\r\n"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("sub/inner.asm")), "inner\r\n"));
    QString path = dir.filePath(QStringLiteral("old.asm"));
    if (kind == u"missing folder")
        path = dir.filePath(QStringLiteral("nowhere/x.asm"));
    else if (kind == u"path is a directory")
        path = dir.filePath(QStringLiteral("sub"));
    else if (kind.endsWith(u"in place")) // a second name: the file is rewritten in place
        QCOMPARE(::link(QFile::encodeName(path).constData(),
                        QFile::encodeName(dir.filePath(QStringLiteral("second name.asm"))).constData()),
                 0);

    // A file size limit stops root as a full disk would; the write fails with
    // EFBIG instead of killing the process.
    struct rlimit old {};
    const bool limit = kind.startsWith(u"disk refuses");
    if (limit) {
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 16384;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    const QMap<QString, QByteArray> before = snapshot(dir.path());
    SourceEditor editor;
    editor.setText(QString(40'000, u'n'));
    ScriptedPlatform platform;
    const bool saved = modZapisz::SaveSourceFile(path, editor, platform, nullptr);
    if (limit)
        ::setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(!saved);
    QCOMPARE(snapshot(dir.path()), before);
    QVERIFY(snapshot(stateDirectory()).isEmpty()); // no backup or record left
    expectOneReport(platform,
                    QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa."));
}

QTEST_MAIN(TestSourceFiles)
#include "tst_sourcefiles.moc"
