// Reading and writing real source files: the code-page-852 letters, the
// program's own saves and UTF-8 files, line ends kept byte for byte, and what
// the reader refuses and why. What the writer refuses is among the faults of
// tst_faultinjection.

#include "codepage.h"
#include "failurereason.h"
#include "modotworz.h"
#include "modzapisz.h"
#include "testsupport.h"

#include <QSysInfo>

#include <chrono>
#include <functional>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <qt_windows.h>

#include <utility>
#endif

using namespace kesto;

// A source file holding `bytes` in a folder of its own, with the editor and
// the platform a test opens and saves it with.
struct SourceOnDisk {
    SourceOnDisk(const QString &name, const QByteArray &bytes)
        : path(dir.filePath(name)), written(writeFile(path, bytes))
    {}
    QTemporaryDir dir;
    const QString path;
    const bool written;
    SourceEditor editor;
    ScriptedPlatform platform;
};

class TestSourceFiles : public QObject {
    Q_OBJECT
private slots:
    void loadKeepsEveryByteAndConvertsLetters_data();
    void loadKeepsEveryByteAndConvertsLetters();
    void loadRefusesWhatIsNoReadableFile();
    void fileWithNulOpensOnlyWhenAsked();
    void encodeAddsLineEndOnlyWhenMissing_data();
    void encodeAddsLineEndOnlyWhenMissing();
    void encodeNamesFirstForeignCharacterAndItsLine();
    void saveThenReopenAndSaveIsByteIdentical_data();
    void saveThenReopenAndSaveIsByteIdentical();
    void ownSavesComeBackExactlyOnThisComputerOnly();
    void enterAndSavedLastBreakFollowFirstLineEnd_data();
    void enterAndSavedLastBreakFollowFirstLineEnd();

private:
    OwnStateHome m_stateHome; // for the records of saves in place
};

void TestSourceFiles::loadKeepsEveryByteAndConvertsLetters_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("empty") << QByteArray() << QString() << false;
    QTest::newRow("mixed line ends") << QByteArray("a\rb\nc\r\n\n\r\r\n")
                                     << QStringLiteral("a\rb\nc\r\n\n\r\r\n") << false;
    QTest::newRow("nul bytes past the first 64 KiB")
        << QByteArray(65536, 'x') + QByteArray("\0\r\n", 3)
        << QString(65536, u'x') + QString::fromUtf16(u"\0\r\n", 3) << false;
    // A DOS file: all 18 letters, then a box drawn with 852 line characters,
    // which come out as the Windows-1250 characters of those bytes.
    QTest::newRow("code page 852")
        << QByteArray("\xA5\xA9\xA2\x98\x88\xBE\xAB\x86\xE4\xA4\xA8\xE0\x97\x9D\xBD\x8D\x8F\xE3\r\n"
                      "\xDA\xC4\xBF\r\n\xB3 \xB3\r\n\xC0\xC4\xD9\r\n")
        << QStringLiteral("ąęóśłżźćńĄĘÓŚŁŻŹĆŃ\r\nÚÄż\r\nł ł\r\nŔÄŮ\r\n") << false;
    // No letter only Windows-1250 has: read as ever, the frame and the ą.
    QTest::newRow("DOS są in a frame")
        << QByteArray("\xDA\xC4\xC4\xBF\r\n\xB3s\xA5\xB3\r\n") << QStringLiteral("ÚÄÄż\r\nłsął\r\n") << false;
    // The program's own save: ś is Windows-1250's alone, so Ą and Ź stay.
    QTest::newRow("windows-1250") << QByteArray("\xB9\x9C\xBF\xA5\x8F\x80\x81")
                                  << QStringLiteral("ąśżĄŹ€\u0081") << false;
    QTest::newRow("UTF-8") << QStringLiteral("źródło\r\n").toUtf8() << QStringLiteral("źródło\r\n") << true;
    QTest::newRow("UTF-8, its mark dropped")
        << QByteArray("\xEF\xBB\xBFmov") << QStringLiteral("mov") << true;
    // Overlong forms of "a" and NUL: no UTF-8, read byte by byte.
    QTest::newRow("lead byte C1") << QByteArray("\xC1\xA1") << QStringLiteral("Áˇ") << false;
    QTest::newRow("lead byte C0") << QByteArray("\xC0\x80") << QStringLiteral("Ŕ€") << false;
    QTest::newRow("one 10 MB line") << QByteArray(10'000'000, 'x') + "\r\n"
                                    << QString(10'000'000, u'x') + "\r\n"
                                    << false;
}

void TestSourceFiles::loadKeepsEveryByteAndConvertsLetters()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    SourceOnDisk f(QStringLiteral("a.asm"), bytes);
    QVERIFY(f.written);
    f.editor.setText(QStringLiteral("old"));
    modOtworz::LoadReport report;
    QVERIFY(modOtworz::LoadSourceFile(f.path, f.editor, f.platform, nullptr, nullptr, &report));
    QCOMPARE(f.editor.text(), text);
    QCOMPARE(f.editor.length(), text.size());
    QTEST(report.encoding == codepage::SourceEncoding::Utf8, "utf8");
    QVERIFY(f.platform.boxes.isEmpty());
}

void TestSourceFiles::fileWithNulOpensOnlyWhenAsked()
{
    SourceOnDisk f(QStringLiteral("a.out"), QByteArray("\x7F"
                                                       "ELF\x02\0\0\0mov",
                                                       11));
    QVERIFY(f.written);
    f.editor.setText(QStringLiteral("kept\r\n"));
    modOtworz::LoadReport report;
    f.platform.answer(Button::Cancel);
    QVERIFY(!modOtworz::LoadSourceFile(f.path, f.editor, f.platform, nullptr, nullptr, &report));
    QVERIFY(report.declined);
    QVERIFY(report.failure.isEmpty());
    QCOMPARE(f.editor.text(), QStringLiteral("kept\r\n"));
    QCOMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0],
              QStringLiteral("Plik \"") + f.path +
                  QStringLiteral("\" nie wygląda na tekst (zawiera znaki NUL). Otworzyć go mimo to?"),
              Buttons::OkCancel, Icon::Exclamation, QStringLiteral("KESTO IDE"));
    // OK opens it all the same: saveThenReopenAndSaveIsByteIdentical(nul bytes).
    QCOMPARE(f.platform.boxes[0].defaultButton, std::optional(Button::Cancel));
}

void TestSourceFiles::loadRefusesWhatIsNoReadableFile()
{
#ifdef Q_OS_WIN
    HANDLE held = INVALID_HANDLE_VALUE;
#endif
    // Each gives a path in `dir`, beside a readable file "a.asm", and why it
    // is not read, as the status line says it.
    const QString notRegular = QStringLiteral("to nie jest zwykły plik");
    const std::pair<std::function<QString(const QTemporaryDir &)>, QString> unreadable[] = {
        {[](const QTemporaryDir &dir) { return dir.filePath(QStringLiteral("missing.asm")); },
         qt_error_string(ENOENT)},
        {[](const QTemporaryDir &dir) { return dir.path(); }, qt_error_string(systemError::isDirectory)},
#ifdef Q_OS_UNIX // FIFOs and device files are POSIX
        {[](const QTemporaryDir &dir) {
             const QString fifo = dir.filePath(QStringLiteral("x y.asm"));
             ::mkfifo(native(fifo).constData(), 0600);
             return fifo;
         },
         notRegular},
        {[](const QTemporaryDir &) { return QStringLiteral("/dev/zero"); }, notRegular},
#else
        // Another program holds it open and lets nobody read it.
        {[&held](const QTemporaryDir &dir) {
             const QString locked = dir.filePath(QStringLiteral("x y.asm"));
             writeFile(locked, "locked\r\n");
             held = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(locked).utf16()),
                                GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             return locked;
         },
         qt_error_string(ERROR_SHARING_VIOLATION)},
#endif
        {[](const QTemporaryDir &dir) {
             QFile big(dir.filePath(QStringLiteral("big.asm"))); // sparse: takes no room on disk
             if (big.open(QIODevice::WriteOnly))
                 big.resize(modOtworz::maxSourceFileSize + 1);
             return big.fileName();
         },
         QStringLiteral("plik jest za duży")},
        {[](const QTemporaryDir &) { return QStringLiteral(""); }, qt_error_string(systemError::badName)},
        // Cut at the NUL, the name would be a readable file's.
        {[](const QTemporaryDir &dir) {
             return dir.filePath(QStringLiteral("a.asm")) + QString::fromUtf16(u"\0.asm", 5);
         },
         qt_error_string(systemError::badName)},
        {[](const QTemporaryDir &dir) { return dir.filePath(QString(300, u'n')); },
         qt_error_string(systemError::nameTooLong)},
        {[](const QTemporaryDir &dir) { return dir.path() + QStringLiteral("/d").repeated(3000); },
         QStringLiteral("brak katalogu")},
    };
    for (const auto &[make, why] : unreadable) {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(QStringLiteral("a.asm")), "readable\r\n"));
        const QString path = make(dir);
        // A FIFO with no writer must not stall the window: read off the GUI
        // thread and give up after a while, waking the reader so the test can end.
        auto read = std::async(std::launch::async, [&] { return modOtworz::readSourceFile(path).ok; });
        if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
#ifdef Q_OS_UNIX
            const int fd = ::open(native(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
#endif
            read.wait();
            QFAIL(qPrintable(QStringLiteral("reading blocked: ") + path));
        }
        QVERIFY2(!read.get(), qPrintable(path));

        SourceEditor editor;
        editor.setText(QStringLiteral("kept\r\n"));
        ScriptedPlatform platform;
        modOtworz::LoadReport report;
        QVERIFY2(!modOtworz::LoadSourceFile(path, editor, platform, nullptr, nullptr, &report),
                 qPrintable(path));
        QCOMPARE(report.failure, why);
        QCOMPARE(editor.text(), QStringLiteral("kept\r\n"));
        QCOMPARE(platform.boxes.size(), 1);
        expectBox(platform.boxes[0], QStringLiteral("Nie można otworzyć pliku: ") + path, Buttons::Ok,
                  Icon::None, QStringLiteral("KESTOIDE"));
#ifdef Q_OS_WIN
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
#endif
    }
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
    // The lone LF starts a line, as in the editor and the line indicator.
    const modZapisz::Encoded e =
        modZapisz::encodeSourceText(QStringLiteral("x\r\ny\nz\r\nok 😀 ✓").toStdString());
    QCOMPARE(QByteArray::fromStdString(e.bytes), QByteArray("x\r\ny\nz\r\nok ? ?\r\n"));
    QCOMPARE(e.unmappable, std::size_t(2));
    QCOMPARE(uint(e.firstUnmappable), 0x1F600u);
    QCOMPARE(e.firstUnmappableLine, 4);
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
    // Once saved, "Źródło" and "Ą" stay: they come back as Windows-1250.
    QTest::newRow("the program's own save") << QByteArray("\x8F\xF3"
                                                          "d\xB3o \xA5\r\n")
                                            << QByteArray("\x8F\xF3"
                                                          "d\xB3o \xA5\r\n");
}

void TestSourceFiles::saveThenReopenAndSaveIsByteIdentical()
{
    QFETCH(QByteArray, original);
    QFETCH(QByteArray, saved);
    SourceOnDisk f(QStringLiteral("r.asm"), original);
    QVERIFY(f.written);
    for (int round = 0; round < 3; ++round) {
        if (original.contains('\0'))
            f.platform.answer(Button::Ok); // open it all the same
        QVERIFY(modOtworz::LoadSourceFile(f.path, f.editor, f.platform, nullptr));
        QVERIFY(modZapisz::SaveSourceFile(f.path, f.editor, f.platform, nullptr));
        QCOMPARE(readAll(f.path), saved);
    }
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("r.asm")});
}

void TestSourceFiles::ownSavesComeBackExactlyOnThisComputerOnly()
{
    // All 256 characters of Windows-1250 in one file, then each Polish
    // letter alone and beside each other one: many of these the rule alone
    // would read as code page 852.
    const QString letters = QStringLiteral("ąęóśłżźćńĄĘÓŚŁŻŹĆŃ");
    QStringList texts{QString()};
    for (int b = 0; b < 256; ++b)
        texts[0] += QChar(codepage::decodeCp1250(static_cast<unsigned char>(b)));
    for (const QChar a : letters) {
        texts << QString(a);
        for (const QChar b : letters)
            texts << QString(a) + b;
    }
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("own.asm")),
                  moved = dir.filePath(QStringLiteral("moved.asm"));
    SourceEditor editor;
    ScriptedPlatform platform;
    modOtworz::LoadReport report;
    for (const QString &text : texts) {
        editor.setText(text);
        const QString expected = text + QString::fromLatin1(editor.lineBreak());
        QVERIFY(modZapisz::SaveSourceFile(saved, editor, platform, nullptr));
        QVERIFY(QFile::remove(moved) || !QFile::exists(moved));
        QVERIFY(QFile::rename(saved, moved)); // wherever it lies now
        if (text.contains(QChar(0)))
            platform.answer(Button::Ok); // open it all the same
        QVERIFY(modOtworz::LoadSourceFile(moved, editor, platform, nullptr, nullptr, &report));
        QCOMPARE(editor.text(), expected);
    }
    QCOMPARE(platform.unexpectedBoxes, 0);

    // The same account's record of another computer of the lab is not this one's.
    editor.setText(QStringLiteral("; KĄT ŹLE"));
    QVERIFY(modZapisz::SaveSourceFile(saved, editor, platform, nullptr));
    QVERIFY(modOtworz::LoadSourceFile(saved, editor, platform, nullptr, nullptr, &report));
    QVERIFY(report.ownSave);
    const QString state = m_stateHome.path() + QStringLiteral("/kestoide/");
    const QString host = QString::fromLatin1(QSysInfo::machineHostName().toUtf8().toPercentEncoding());
    QVERIFY(QFile::rename(state + QStringLiteral("own-saves-%1.list").arg(host),
                          state + QStringLiteral("own-saves-other%1.list").arg(host)));
    QVERIFY(modOtworz::LoadSourceFile(saved, editor, platform, nullptr, nullptr, &report));
    QCOMPARE(editor.text(), QStringLiteral("; KąT ĆLE\r\n"));
}

// Enter typed at the start of each opened file, then Save.
void TestSourceFiles::enterAndSavedLastBreakFollowFirstLineEnd_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("LF lines") << QByteArray("a\nb") << QByteArray("\na\nb\n");
    QTest::newRow("first line LF") << QByteArray("a\nb\r\nc") << QByteArray("\na\nb\r\nc\n");
    QTest::newRow("CR LF lines") << QByteArray("a\r\nb\n") << QByteArray("\r\na\r\nb\n");
    QTest::newRow("lone CR") << QByteArray("a\rb\n") << QByteArray("\r\na\rb\n");
    QTest::newRow("one line") << QByteArray("ab") << QByteArray("\r\nab\r\n");
}

void TestSourceFiles::enterAndSavedLastBreakFollowFirstLineEnd()
{
    QFETCH(QByteArray, file);
    SourceOnDisk f(QStringLiteral("e.asm"), file);
    QVERIFY(f.written);
    QVERIFY(modOtworz::LoadSourceFile(f.path, f.editor, f.platform, nullptr));
    QTest::keyClick(&f.editor, Qt::Key_Return);
    QVERIFY(modZapisz::SaveSourceFile(f.path, f.editor, f.platform, nullptr));
    QTEST(readAll(f.path), "saved");
}

QTEST_MAIN(TestSourceFiles)
#include "tst_sourcefiles.moc"
