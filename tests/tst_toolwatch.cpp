// The real helper tells the real listener how its tool ended: at once, before
// it waits for Enter, with what the tool printed; a helper that goes without
// a word, or never comes, leaves the end unknown, never a success; a helper
// whose program has gone still runs its tool to the end.

#include "platform/toolwatch.h"
#include "runner/report.h"
#include "testsupport.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <optional>

using namespace kesto;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kesto::ToolEnd::Kind)

namespace {

// One start: the listener's ticket and, once told, the end.
struct Watched {
    explicit Watched(ToolWatch &watch)
    {
        ticket = watch.watch([this](const ToolEnd &e) {
            ++told;
            end = e;
        });
    }
    // The helper's own options, then the tool's command line.
    QStringList arguments(const QStringList &options, const QStringList &tool, bool output = true) const
    {
        QStringList args = options;
        args << u"--report"_s << ticket.server << u"--id"_s << ticket.id;
        if (output)
            args << u"--output"_s;
        return args << u"--"_s << tool;
    }
    ToolTicket ticket;
    std::optional<ToolEnd> end;
    int told = 0;
};

bool startHelper(QProcess &helper, const QStringList &arguments)
{
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(helperProgram(), arguments);
    // Wine may take a while to start a process.
    return helper.waitForStarted(60000);
}

bool ended(QProcess &helper)
{
    return helper.state() == QProcess::NotRunning || helper.waitForFinished(30000);
}

// Until the helper is done with its closing lines and waits, or has ended.
QByteArray readUntilWaiting(QProcess &helper)
{
    QByteArray got = helper.readAll();
    while (!got.contains("okno.") && helper.state() == QProcess::Running && helper.waitForReadyRead(20000))
        got += helper.readAll();
    return got;
}

#ifdef Q_OS_WIN
// The Unicode stand-in (tests/windows/standin.c), made to end with `code`.
QStringList standIn(const QTemporaryDir &dir, const char *code)
{
    const QString tool =
        QDir::toNativeSeparators(dir.filePath(u"narzędzie %1.exe"_s.arg(QLatin1String(code))));
    QFile::copy(QCoreApplication::applicationDirPath() + u"/../standin/standin-unicode.exe"_s, tool);
    writeFile(tool + u".exit"_s, code);
    return {tool};
}
#else
QStringList shell(const QString &script) { return {u"/bin/sh"_s, u"-c"_s, script}; }
#endif

} // namespace

class TestToolWatch : public QObject {
    Q_OBJECT
private slots:
    void reportIsReadInAnyPieces_data();
    void reportIsReadInAnyPieces();
    void helperTellsHowItsToolEnded_data();
    void helperTellsHowItsToolEnded();
    void helperGoneWithoutAWordLeavesTheEndUnknown();
    void helperThatNeverComesLeavesTheEndUnknown();
    void helperOfAGoneProgramRunsItsToolToTheEnd();
    void strangerIsNotTaken();
#ifdef Q_OS_WIN
    void printedIsReadAsTheConsoleShowsIt();
#else
    void toolOutputShowsAsItIsWritten();
#endif
};

void TestToolWatch::reportIsReadInAnyPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("state"); // runner::ReportReader::State
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("code");
    QTest::addColumn<QByteArray>("detail");
    QTest::addColumn<QByteArray>("printed");
    using S = runner::ReportReader::State;
    using O = runner::Outcome;
    const auto row = [](const char *name) { return &QTest::newRow(name); };
    *row("exited, with output") << QByteArray("hello 7f 4194316\nend exited 255 0 6\nline 2") << int(S::Ended)
                                << int(O::Exited) << qint64(255) << QByteArray() << QByteArray("line 2");
    *row("-1 is a code") << QByteArray("hello 1 0\nend exited -1 0 0\n") << int(S::Ended) << int(O::Exited)
                         << qint64(-1) << QByteArray() << QByteArray();
    *row("interrupted") << QByteArray("hello 1 0\nend interrupted 11 5 0\nSIGSE") << int(S::Ended)
                        << int(O::Interrupted) << qint64(11) << QByteArray("SIGSE") << QByteArray();
    *row("not started, output short of its size")
        << QByteArray("hello 1 0\nend notstarted 0 3 9\nwhy1234") << int(S::Running) << 0 << qint64(0)
        << QByteArray() << QByteArray();
    *row("only hello") << QByteArray("hello 1 0\n") << int(S::Running) << 0 << qint64(0) << QByteArray()
                       << QByteArray();
    *row("hello without a window") << QByteArray("hello 1\n") << int(S::Broken) << 0 << qint64(0)
                                   << QByteArray() << QByteArray();
    *row("no hello") << QByteArray("end exited 0 0 0\n") << int(S::Broken) << 0 << qint64(0) << QByteArray()
                     << QByteArray();
    *row("a kind not known") << QByteArray("hello 1 0\nend fine 0 0 0\n") << int(S::Broken) << 0 << qint64(0)
                             << QByteArray() << QByteArray();
    *row("a size past any output") << QByteArray("hello 1 0\nend exited 0 0 99999999\n") << int(S::Broken)
                                   << 0 << qint64(0) << QByteArray() << QByteArray();
    *row("a line without end") << QByteArray("hello ") + QByteArray(300, '1') << int(S::Broken) << 0
                               << qint64(0) << QByteArray() << QByteArray();
}

void TestToolWatch::reportIsReadInAnyPieces()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, state);
    for (const qsizetype piece : {qsizetype(1), qsizetype(5), bytes.size()}) {
        runner::ReportReader reader;
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            reader.feed(std::string_view(bytes.constData() + at, size_t(std::min(piece, bytes.size() - at))));
        QCOMPARE(int(reader.state()), state);
        if (state != int(runner::ReportReader::State::Ended))
            continue;
        QTEST(int(reader.outcome().kind), "kind");
        QTEST(qint64(reader.outcome().code), "code");
        QTEST(QByteArray::fromStdString(reader.outcome().detail), "detail");
        QTEST(QByteArray::fromStdString(reader.printed()), "printed");
    }
}

void TestToolWatch::helperTellsHowItsToolEnded_data()
{
    QTest::addColumn<QStringList>("tool");
    QTest::addColumn<bool>("always"); // Compile's helper: waits whatever the end
    QTest::addColumn<ToolEnd::Kind>("kind");
    QTest::addColumn<qint64>("code");
    QTest::addColumn<QString>("printed"); // as a regular expression; empty: nothing checked
    QTest::addColumn<bool>("waits");
#ifdef Q_OS_WIN
    QTemporaryDir *dir = new QTemporaryDir; // for the whole run
    QTest::newRow("compile, failed") << standIn(*dir, "255") << true << ToolEnd::Exited << qint64(255)
                                     << QString() << true;
    QTest::newRow("run, good") << standIn(*dir, "0") << false << ToolEnd::Exited << qint64(0) << QString()
                               << false;
    QTest::newRow("return -1") << standIn(*dir, "4294967295") << false << ToolEnd::Exited << qint64(-1)
                               << QString() << true;
    QTest::newRow("an exception") << standIn(*dir, "3221225477") << false << ToolEnd::Interrupted
                                  << qint64(0xC0000005) << QString() << true;
    QTest::newRow("not started") << QStringList{u"C:\\nie ma\\narzędzia.exe"_s} << true << ToolEnd::NotStarted
                                 << qint64(0) << QString() << true;
#else
    QTest::newRow("compile, failed, its words kept, on a terminal")
        << shell(u"echo 'Warning, line 2, syntax error'; [ -t 1 ] && echo tty >&2; exit 255"_s) << true
        << ToolEnd::Exited << qint64(255) << u"^Warning, line 2, syntax error\r\ntty\r\n$"_s << true;
    QTest::newRow("compile, good") << shell(u"echo Begin Pass"_s) << true << ToolEnd::Exited << qint64(0)
                                   << u"^Begin Pass\r\n$"_s << true;
    QTest::newRow("run, good: no wait")
        << shell(u"exit 0"_s) << false << ToolEnd::Exited << qint64(0) << u"^$"_s << false;
    QTest::newRow("killed by a signal")
        << shell(u"kill -SEGV $$"_s) << false << ToolEnd::Interrupted << qint64(11) << u"^$"_s << true;
    QTest::newRow("not started") << QStringList{u"/nie/ma/narzędzia"_s} << true << ToolEnd::NotStarted
                                 << qint64(0) << u"^$"_s << true;
    // What the helper keeps of a long output: its start.
    QTest::newRow("a long output, cut")
        << shell(u"head -c 100000 /dev/zero | tr '\\0' x; exit 1"_s) << true << ToolEnd::Exited << qint64(1)
        << u"^(x{%1}){2}$"_s.arg(runner::printedLimit / 2) << true;
#endif
}

void TestToolWatch::helperTellsHowItsToolEnded()
{
    QFETCH(QStringList, tool);
    QFETCH(bool, always);
    QFETCH(QString, printed);
    QFETCH(bool, waits);
    ToolWatch watch;
    Watched started(watch);
    QProcess helper;
    QVERIFY(startHelper(helper, started.arguments({always ? u"--always"_s : u"--on-failure"_s}, tool)));

    QTRY_VERIFY_WITH_TIMEOUT(started.end.has_value(), 60000);

    // Told before the student pressed Enter.
    if (waits) {
        readUntilWaiting(helper);
        QCOMPARE(helper.state(), QProcess::Running);
        helper.write("\n");
    }
    QVERIFY(ended(helper));
    QCOMPARE(started.told, 1);
    QTEST(started.end->kind, "kind");
    QTEST(started.end->code, "code");
    if (!printed.isEmpty())
        QVERIFY2(QRegularExpression(printed).match(started.end->printed).hasMatch(),
                 qPrintable(started.end->printed.left(100) + u" ("_s +
                            QString::number(started.end->printed.size()) + u')'));
    if (started.end->kind != ToolEnd::Exited)
        QVERIFY(!started.end->detail.isEmpty());
}

void TestToolWatch::helperGoneWithoutAWordLeavesTheEndUnknown()
{
    QTemporaryDir dir;
    const QString began = dir.filePath(u"began"_s);
    ToolWatch watch;
    Watched started(watch);
    QProcess helper;
#ifdef Q_OS_WIN
    // cmd waits at its prompt for the input the helper hands on.
    QVERIFY(startHelper(helper, started.arguments({u"--always"_s}, {u"C:\\windows\\system32\\cmd.exe"_s})));
    QTest::qWait(3000);
#else
    QVERIFY(startHelper(
        helper, started.arguments({u"--always"_s}, shell(u"touch '%1'; exec sleep 60"_s.arg(began)))));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(began), 20000);
#endif
    QVERIFY(!started.end);

    helper.kill(); // as when its terminal's window is closed

    QTRY_VERIFY_WITH_TIMEOUT(started.end.has_value(), 20000);
    QCOMPARE(started.end->kind, ToolEnd::Unknown);
    QCOMPARE(started.told, 1);
    helper.waitForFinished(10000);
}

void TestToolWatch::helperThatNeverComesLeavesTheEndUnknown()
{
    ToolWatch watch;
    watch.setHelloTimeout(200);
    Watched started(watch);
    QTRY_VERIFY_WITH_TIMEOUT(started.end.has_value(), 5000);
    QCOMPARE(started.end->kind, ToolEnd::Unknown);
    // One whose start failed is not told at all.
    Watched failed(watch);
    watch.unwatch(failed.ticket.id);
    QTest::qWait(400);
    QCOMPARE(failed.told, 0);
}

void TestToolWatch::helperOfAGoneProgramRunsItsToolToTheEnd()
{
    QTemporaryDir dir;
    auto watch = std::make_unique<ToolWatch>();
    Watched started(*watch);
#ifdef Q_OS_WIN
    const QStringList tool = standIn(dir, "4");
#else
    const QString gate = dir.filePath(u"gate"_s);
    const QStringList tool = shell(u"while [ ! -e '%1' ]; do sleep 0.05; done; exit 4"_s.arg(gate));
#endif
    QProcess helper;
    QVERIFY(startHelper(helper, started.arguments({u"--always"_s}, tool)));
#ifndef Q_OS_WIN
    QTest::qWait(300);
#endif
    watch.reset(); // the program has gone
#ifndef Q_OS_WIN
    QVERIFY(writeFile(gate, ""));
#endif

    const QByteArray shown = readUntilWaiting(helper);
    QVERIFY2(shown.contains("kodem 4."), shown.constData());
    QCOMPARE(helper.state(), QProcess::Running);
    helper.write("\n");
    QVERIFY(ended(helper));
    QCOMPARE(helper.exitCode(), 4);
}

void TestToolWatch::strangerIsNotTaken()
{
    ToolWatch watch;
    watch.setHelloTimeout(20000);
    Watched started(watch);
    QTemporaryDir dir;
#ifdef Q_OS_WIN
    const QStringList tool = standIn(dir, "0");
#else
    const QStringList tool = shell(u"exit 0"_s);
#endif
    // A helper that names a start the program never made.
    Watched stranger = started;
    stranger.ticket.id = u"0123456789abcdef"_s;
    QProcess helper;
    QVERIFY(startHelper(helper, stranger.arguments({u"--on-failure"_s}, tool)));
    QVERIFY(helper.waitForFinished(60000));
    QTest::qWait(200);
    QCOMPARE(started.told, 0);
}

#ifndef Q_OS_WIN
void TestToolWatch::toolOutputShowsAsItIsWritten()
{
    QTemporaryDir dir;
    const QString gate = dir.filePath(u"gate"_s);
    ToolWatch watch;
    Watched started(watch);
    QProcess helper;
    QVERIFY(startHelper(
        helper,
        started.arguments(
            {u"--on-failure"_s},
            shell(u"echo first; while [ ! -e '%1' ]; do sleep 0.05; done; echo second"_s.arg(gate)))));
    QByteArray shown;
    while (!shown.contains("first") && helper.waitForReadyRead(10000))
        shown += helper.readAll();
    // Seen while the tool still runs.
    QCOMPARE(shown, QByteArray("first\r\n"));
    QVERIFY(!started.end);
    QVERIFY(writeFile(gate, ""));
    QVERIFY(helper.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(started.end.has_value(), 10000);
    QCOMPARE(started.end->printed, u"first\r\nsecond\r\n"_s);
}
#endif

#ifdef Q_OS_WIN
void TestToolWatch::printedIsReadAsTheConsoleShowsIt()
{
    QTemporaryDir dir;
    const QStringList tool = standIn(dir, "2");
    // "błąd w linii 3" in code page 852, the console's, as a DOS-era tool prints it.
    QVERIFY(writeFile(tool[0] + u".print"_s, "b\x88\xa5"
                                             "d w linii 3\r\n"));
    ToolWatch watch;
    Watched started(watch);
    QProcess helper;
    // A console of its own, as the program starts it.
    helper.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NEW_CONSOLE;
        args->startupInfo->dwFlags &= ~DWORD(STARTF_USESTDHANDLES);
        args->inheritHandles = FALSE;
    });
    helper.start(helperProgram(), started.arguments({u"--always"_s}, tool));
    QVERIFY(helper.waitForStarted(60000));

    QTRY_VERIFY_WITH_TIMEOUT(started.end.has_value(), 60000);

    QCOMPARE(started.end->code, 2);
    QVERIFY2(started.end->printed.contains(u" argument(s)\nbłąd w linii 3\n"_s),
             qPrintable(started.end->printed));
    helper.kill(); // it waits for an Enter that no test types
    helper.waitForFinished(30000);
}
#endif

QTEST_MAIN(TestToolWatch)
#include "tst_toolwatch.moc"
