// Compile and Run: the questions and status texts, the Run loop, how a tool
// is started (the helper in a terminal, Wine for a Windows program on Linux;
// the helper in a console on Windows), and the lab's tools started for real
// from a stand-in program directory.

#include "testsupport.h"
#include "toollaunch.h"

#include <QFileInfo>
#include <QProcess>

#include <functional>

using namespace kesto;

using namespace Qt::StringLiterals;
using kesto::Button;

namespace {

const QString noAssembler = u"Brak pliku RUDERARI.EXE w katalogu z programem KESTO IDE!!!"_s;
const QString noRunTool = u"Brak pliku ZOZEVADI.EXE w katalogu z programem KESTO IDE!!!"_s;
const QString noname = u"noname.asm"_s;

QString runQuestion(const QString &path)
{
    return u"Program "_s + path +
           u" nie został skompilowany lub zmienił się.\r\r\nCzy chcesz go skompilować?"_s;
}

QString compileQuestion(const QString &path)
{
    return u"Tekst w pliku "_s + path + u" zmienił się.\r\r\nCzy chcesz zapisać zmiany i skompilować?"_s;
}

// Records its working directory and then its arguments, each ended by a NUL,
// in "<its own path>.args"; the rename makes the record appear whole. As the
// assembler, it writes the hex file, empty.
const QByteArray standInTool = R"sh(#!/bin/sh
printf '%s\0' "$(pwd -P)" "$@" > "$0.part" && mv -f "$0.part" "$0.args"
case "$0" in *ruderari.exe)
    case "${1##*/}" in *.*) : > "${1%.*}.hex" ;; *) : > "$1.hex" ;; esac
esac
)sh";

#ifdef Q_OS_WIN
// The Unicode stand-in for the lab's tools (tests/windows/standin.c).
QString standIn() { return QCoreApplication::applicationDirPath() + u"/../standin/standin-unicode.exe"_s; }
#endif

void installTool(const QString &path, bool executable)
{
#ifdef Q_OS_WIN
    // The Unicode stand-in keeps the same record; a file that is no program
    // cannot be started.
    if (executable)
        QVERIFY(QFile::copy(standIn(), path));
    else
        QVERIFY(writeFile(path, "MZ, but no program"));
#else
    QVERIFY(installFile(path, standInTool, executable));
#endif
}

QStringList recordOf(const QString &tool)
{
    QStringList parts = QString::fromUtf8(readAll(tool + u".args"_s)).split(QChar(0));
    parts.removeLast(); // after the last NUL
    return parts;
}

// The tools record how they were started (recordOf).
QString useRecordingTools(WindowFixture &f, const QString &folder)
{
    const QString tools = useToolsFolder(f, folder, standInTool);
#ifdef Q_OS_WIN
    for (const QString &tool : {u"/ruderari.exe"_s, u"/zozevadi.exe"_s}) {
        QFile::remove(tools + tool);
        installTool(tools + tool, true);
    }
#endif
    return tools;
}

// The tool's own command line in a started helper: what follows "--".
QStringList toolCommand(const StartedProcess &p) { return p.arguments.mid(p.arguments.indexOf(u"--"_s) + 1); }

#ifdef Q_OS_WIN
// Runs what the program started, as it started it but with Enter waiting at
// its input: in a console of its own it would wait for a key no test presses.
void runAsStarted(const StartedProcess &p)
{
    QProcess process;
    process.start(p.program, p.arguments);
    // Wine may take long to start a process on a busy machine.
    QVERIFY(process.waitForStarted(60000));
    process.write("\n");
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
}
#endif

#ifndef Q_OS_WIN
// The start of a Windows program: "MZ", at 0x3C where "PE\0\0" and the machine are.
QByteArray windowsProgram(quint16 machine)
{
    return "MZ" + QByteArray(0x3A, '\0') + QByteArray("\x40\0\0\0PE\0\0", 8) + char(machine & 0xFF) +
           char(machine >> 8);
}
#endif

} // namespace

Q_DECLARE_METATYPE(kesto::ToolHost)

class TestToolchain : public QObject {
    Q_OBJECT
private slots:
#ifndef Q_OS_WIN // xterm and Wine: how Linux starts the tools
    void initTestCase();
    void launchRunsHelperInTerminal_data();
    void launchRunsHelperInTerminal();
    void windowsToolsRunThroughWineWithWindowsPaths();
#endif
    void helperSaysHowFailedToolEnded_data();
    void helperSaysHowFailedToolEnded();
    void toolsGetExactArgumentsWithoutShell_data();
    void toolsGetExactArgumentsWithoutShell();
    void toolThatCannotStartShowsItsBoxAndKeepsState();
    void runCompilesFirstWhenNeededThenRuns();
    void runAsksAgainUntilCompiledOrCancelled();
    void unchangedUntitledCompilesNonameEachTimeWithoutQuestion();
    void saveAsAfterCompileRunsWithOldHexFileWithoutQuestion();
};

#ifndef Q_OS_WIN
// Stand-ins on PATH: an xterm that runs its -e command windowless, a Wine that
// records what it runs, a winepath that turns /a/b into Z:\a\b.
void TestToolchain::initTestCase()
{
    static QTemporaryDir bin;
    QVERIFY(writeFile(bin.filePath(u"xterm"_s), "#!/bin/sh\nwhile [ \"$1\" != -e ]; do shift; done\nshift\n"
                                                "exec \"$@\" </dev/null >/dev/null\n"));
    QVERIFY(writeFile(bin.filePath(u"wine"_s),
                      "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$(dirname \"$1\")/wine.args\"\n"));
    QVERIFY(writeFile(bin.filePath(u"winepath"_s),
                      "#!/bin/sh\n[ \"$1\" = -w ] && printf 'Z:%s\\n' \"$2\" | tr / '\\\\'\n"));
    for (const QString &name : {u"xterm"_s, u"wine"_s, u"winepath"_s})
        QVERIFY(QFile::setPermissions(bin.filePath(name), QFile::ReadOwner | QFile::ExeOwner));
    qputenv("PATH", native(bin.path()) + ':' + qgetenv("PATH"));
}

void TestToolchain::launchRunsHelperInTerminal_data()
{
    QTest::addColumn<QByteArray>("toolFile");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<ToolHost>("host");
    QTest::addColumn<bool>("compile");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("reason"); // empty: started, with `arguments`
    QTest::addColumn<QStringList>("arguments");
    const QString xterm = u"/usr/bin/xterm"_s, wine = u"/usr/bin/wine"_s, polish = u"pl_PL.UTF-8"_s;
    const ToolHost all{xterm, wine, true, polish};
    const ToolHost noWine{xterm, {}, false, {}};
    const ToolHost wine64{xterm, wine, false, polish};
    const ToolHost noLocale{xterm, wine, true, {}};
    const QByteArray script = "#!/bin/sh\n", pe64 = windowsProgram(0x8664), pe32 = windowsProgram(0x14C);
    const QString plain = u"/src/p.asm"_s, polishPath = u"/zajęcia/p.asm"_s, latinPath = u"/café/p.asm"_s;
    // The terminal's options and the helper's, then the tool's own command line.
    const auto words = [](const QString &line) { return line.split(u'|'); };
    const QStringList compile =
        words(u"-T|Kompilacja pliku p.asm|-fa|Monospace|-fs|10|-e|/app/kestoide-run|--always"_s);
    const QStringList run = words(
        u"-T|Uruchomienie pliku p.asm|-iconic|-fa|Monospace|-fs|10|-e|/app/kestoide-run|--on-failure"_s);
    // Where the helper reports: Compile's with what the tool printed.
    const QStringList compileReport = words(u"--report|/run/k|--id|7|--output"_s);
    const QStringList runReport = words(u"--report|/run/k|--id|7"_s);
    const auto compileTail = [&](const QString &source) { return words(u"--|/app/tool.exe|"_s + source); };
    const QStringList runTail = words(u"--|/app/tool.exe|/3|/src/p.hex"_s);
    const auto row = [](const char *name) { return &QTest::newRow(name); };
    *row("native compile") << script << true << all << true << plain << QString()
                           << compile + compileReport + compileTail(plain);
    *row("native run, minimised") << script << true << all << false << plain << QString()
                                  << run + runReport + runTail;
    *row("windows compile, path for wine, in a locale of code page 1250")
        << pe64 << false << wine64 << true << polishPath << QString()
        << compile + words(u"--wine|--path|1|--locale|pl_PL.UTF-8"_s) + compileReport +
               compileTail(polishPath);
    *row("windows run, the hex file a path, the port not")
        << pe32 << true << all << false << plain << QString()
        << run + words(u"--wine|--path|2|--locale|pl_PL.UTF-8"_s) + runReport + runTail;
    *row("windows, no such locale, a path within code page 1252")
        << pe64 << true << noLocale << true << latinPath << QString()
        << compile + words(u"--wine|--path|1"_s) + compileReport + compileTail(latinPath);
    *row("windows, no such locale, a Polish path")
        << pe64 << true << noLocale << true << polishPath
        << u"ścieżka \"/zajęcia/p.asm\" ma litery, których Wine nie przekaże programowi Windows — "
           u"wygeneruj locale pl_PL.UTF-8 (sudo dpkg-reconfigure locales)"_s
        << QStringList();
    *row("not executable") << script << false << all << true << plain << u"brak prawa do wykonania"_s
                           << QStringList();
    *row("windows without wine") << pe64 << true << noWine << true << plain
                                 << u"to program Windows — zainstaluj pakiet wine"_s << QStringList();
    *row("32-bit windows without wine32")
        << pe32 << false << wine64 << true << plain
        << u"to 32-bitowy program Windows — zainstaluj pakiet wine32:i386"_s << QStringList();
    *row("dos") << QByteArray("MZ\x90\0\x03", 5) << true << all << true << plain
                << u"to program DOS — Wine go nie uruchomi"_s << QStringList();
    *row("no terminal") << script << true << ToolHost{} << true << plain
                        << u"brak programu xterm — zainstaluj pakiet xterm"_s << QStringList();
}

void TestToolchain::launchRunsHelperInTerminal()
{
    QFETCH(QByteArray, toolFile);
    QFETCH(bool, executable);
    QFETCH(ToolHost, host);
    QFETCH(bool, compile);
    QFETCH(QString, source);
    QFETCH(QString, reason);
    QFETCH(QStringList, arguments);
    // The names in the expected command lines stand for this folder.
    QTemporaryDir app;
    installTool(app.filePath(u"kestoide-run"_s), true);
    QVERIFY(writeFile(app.filePath(u"tool.exe"_s), toolFile));
    QVERIFY(QFile::setPermissions(app.filePath(u"tool.exe"_s),
                                  QFile::ReadOwner | (executable ? QFile::ExeOwner : QFile::Permissions())));
    const ToolTicket ticket{u"/run/k"_s, u"7"_s};
    const ToolRequest compiling{
        u"tool.exe"_s, {source}, {0}, u"Kompilacja pliku p.asm"_s, WindowState::NormalFocused, ticket, true};
    const ToolRequest running{u"tool.exe"_s,
                              {u"/3"_s, u"/src/p.hex"_s},
                              {1},
                              u"Uruchomienie pliku p.asm"_s,
                              WindowState::MinimizedNoFocus,
                              ticket,
                              false};

    const ToolLaunch launch = planToolLaunch(app.path() + u'/', compile ? compiling : running, host);

    QCOMPARE(launch.reason, reason);
    QCOMPARE(launch.outcome, reason.isEmpty() ? ToolLaunch::Start : ToolLaunch::CannotStart);
    QCOMPARE(launch.program, reason.isEmpty() ? host.terminal : QString());
    QCOMPARE(launch.arguments.join(u'|').replace(app.path(), u"/app"_s), arguments.join(u'|'));
}
#endif

// kestoide-run on its own: what it says at the end of a tool, whether it then
// waits for Enter, and its exit status. (Its window is make e2e's.)
void TestToolchain::helperSaysHowFailedToolEnded_data()
{
    QTest::addColumn<QStringList>("arguments"); // {tool} is the tool made for the case
    QTest::addColumn<QString>("tool");          // its exit code, or "text" for no program; "" for none
    QTest::addColumn<QString>("output"); // all of it; the tool's own lines come first; waits after `enter`
    QTest::addColumn<int>("status");
    // On a line of its own: no line of an 80-column console breaks inside a word.
    const QString enter = u"\nNaciśnij Enter, aby zamknąć okno.\n"_s;
    const auto row = [](const char *name) { return &QTest::newRow(name); };
#ifdef Q_OS_WIN
    // The stand-in prints how many arguments it got, and the code it ends
    // with when that is not 0.
    const QString tool = u"{tool}"_s;
    *row("run, good: no wait") << QStringList{u"--on-failure"_s, u"--"_s, tool, u"/1"_s, u"C:\\a b\\p.hex"_s}
                               << u"0"_s << u"tool.exe: 2 argument(s)\r\n"_s << 0;
    *row("run, failure: waits, output kept")
        << QStringList{u"--on-failure"_s, u"--"_s, tool, u"/1"_s, u"p.hex"_s} << u"3"_s
        << u"tool.exe: 2 argument(s)\r\ntool.exe: exit code 3\r\n\nNarzędzie zakończyło pracę z kodem 3."_s +
               enter
        << 3;
    *row("compile, good: waits") << QStringList{u"--always"_s, u"--"_s, tool, u"p.asm"_s} << u"0"_s
                                 << u"tool.exe: 1 argument(s)\r\n\nNarzędzie zakończyło pracę z kodem 0."_s +
                                        enter
                                 << 0;
    *row("ended by an exception") << QStringList{u"--on-failure"_s, u"--"_s, tool} << u"3221225477"_s
                                  << u"tool.exe: 0 argument(s)\r\ntool.exe: exit code 3221225477\r\n\n"
                                     u"Narzędzie zostało przerwane (wyjątek 0xC0000005)."_s +
                                         enter
                                  << 128 + 5;
    // The code of `return -1` (Debian's 8051 assembler on every error) is no exception.
    *row("ended with -1") << QStringList{u"--on-failure"_s, u"--"_s, tool} << u"4294967295"_s
                          << u"tool.exe: 0 argument(s)\r\ntool.exe: exit code 4294967295\r\n\n"
                             u"Narzędzie zakończyło pracę z kodem -1."_s +
                                 enter
                          << -1;
    *row("no program") << QStringList{u"--always"_s, u"--"_s, tool, u"p.asm"_s} << u"text"_s
                       << u"\nNie można uruchomić narzędzia: plik \"{tool}\" nie jest programem, który ten "
                          u"system umie uruchomić."_s +
                              enter
                       << 127;
#else
    const QString sh = u"/bin/sh"_s;
    *row("run, good: no wait") << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"echo ok"_s}
                               << QString() << u"ok\r\n"_s << 0;
    *row("run, failure: waits, output kept")
        << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"echo out; echo err >&2; exit 3"_s}
        << QString() << u"out\r\nerr\r\n\nNarzędzie zakończyło pracę z kodem 3."_s + enter << 3;
    *row("compile, good: waits") << QStringList{u"--always"_s, u"--"_s, sh, u"-c"_s, u"echo ok"_s}
                                 << QString() << u"ok\r\n\nNarzędzie zakończyło pracę z kodem 0."_s + enter
                                 << 0;
    // Through a terminal of its own, even when the helper's output is no terminal.
    *row("the tool writes to a terminal") << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s,
                                                         u"[ -t 0 ] && [ -t 1 ] && [ -t 2 ] && echo tty"_s}
                                          << QString() << u"tty\r\n"_s << 0;
    *row("killed by a signal") << QStringList{u"--on-failure"_s, u"--"_s, sh, u"-c"_s, u"kill -SEGV $$"_s}
                               << QString()
                               << u"\nNarzędzie zostało przerwane (sygnał 11, SIGSEGV)."_s + enter
                               << 128 + 11;
    *row("no such tool")
        << QStringList{u"--on-failure"_s, u"--"_s, u"/nie/ma/narzędzia"_s} << QString()
        << u"\nNie można uruchomić narzędzia: brak pliku \"/nie/ma/narzędzia\" albo programu, "
           u"który ma go wykonać."_s +
               enter
        << 127;
#endif
}

void TestToolchain::helperSaysHowFailedToolEnded()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, tool);
    QFETCH(QString, output);
#ifdef Q_OS_WIN
    QTemporaryDir dir;
    const QString made = QDir::toNativeSeparators(dir.filePath(u"narzędzia KESTO/tool.exe"_s));
    if (!tool.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(made).path()));
        installTool(made, tool != u"text"_s);
        if (tool != u"text"_s)
            QVERIFY(writeFile(made + u".exit"_s, tool.toLatin1()));
        arguments.replaceInStrings(u"{tool}"_s, made);
        output.replace(u"{tool}"_s, made);
    }
#else
    Q_UNUSED(tool);
#endif
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.start(helperProgram(), arguments);
    // Wine may take long to start a process on a busy machine: the test
    // waits for each event it needs, with room to spare.
    QVERIFY(helper.waitForStarted(60000));
    // One that waits must still be there after its last line, until Enter;
    // one that does not never reads its input, which stays open.
    QByteArray got;
    if (output.endsWith(u"Enter, aby zamknąć okno.\n"_s)) {
        while (!got.endsWith("okno.\n") && helper.waitForReadyRead(60000))
            got += helper.readAll();
        QVERIFY2(!helper.waitForFinished(300), got.constData());
        helper.write("\n");
    }
    QVERIFY(helper.state() == QProcess::NotRunning || helper.waitForFinished(60000));
    got += helper.readAll();
    QCOMPARE(QString::fromUtf8(got), output);
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QTEST(helper.exitCode(), "status");
}

void TestToolchain::toolsGetExactArgumentsWithoutShell_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("hex");
    const auto row = [](const char *name, const char *source, const char *hex) {
        QTest::newRow(name) << QString::fromUtf8(source) << QString::fromUtf8(hex);
    };
    row("plain", "prog.asm", "prog.hex");
    row("blanks", "my lab/prog 1.asm", "my lab/prog 1.hex");
#ifdef Q_OS_WIN
    // Windows names hold no '"', '|' or '<'; with no shell, '%', '^' and '&' are plain.
    row("shell characters", "it's %PATH% ^& & (x); $(touch pwned).asm",
        "it's %PATH% ^& & (x); $(touch pwned).hex");
#else
    row("shell characters", "it's \"q\"; $(touch pwned) & `touch pwned` | x.asm",
        "it's \"q\"; $(touch pwned) & `touch pwned` | x.hex");
#endif
    row("polish letters", "źródła/zażółć gęślą jaźń.asm", "źródła/zażółć gęślą jaźń.hex");
    row("two-letter extension", "prog.s", "prog.hex");
    row("no extension", "prog", "prog.hex");
    row("dot in a folder only", "v1.2/prog", "v1.2/prog.hex");
#ifdef Q_OS_WIN
    row("backslash separates folders", "lab.v2\\prog", "lab.v2\\prog.hex");
#else
    // Only "/" separates folders here: lab.v2\prog is one file name, whose
    // extension starts at its dot.
    row("backslash in a file name", "lab.v2\\prog", "lab.hex");
#endif
    row("two dots", "prog.v1.asm", "prog.v1.hex");
}

void TestToolchain::toolsGetExactArgumentsWithoutShell()
{
    QFETCH(QString, source);
    QFETCH(QString, hex);
    const QByteArray port3("3\r\n");
    WindowFixture f(&port3);
    // A blank and a Polish letter in the program directory as well: the
    // program path is one argument and is never split.
    const QString tools = useRecordingTools(f, f.path(u"narzędzia KESTO"_s));
    const QString assembler = tools + u"/ruderari.exe"_s, runTool = tools + u"/zozevadi.exe"_s;
#ifndef Q_OS_WIN
    f.platform.startForReal = true;
#endif
    EditorWin &win = f.open();
    const QString path = f.path(source);
    QVERIFY(openThroughDialog(f, path, "nop\r\n"));

    win.mnuKompiluj();
    QCOMPARE(win.doc.hexFile, f.path(hex));
    QVERIFY(win.doc.docCompiled);
#ifdef Q_OS_WIN
    runAsStarted(f.platform.started[0]);
    QVERIFY(writeFile(f.path(hex), ":00000001FF\r\n"));
    f.platform.endTool(0, {ToolEnd::Exited, 0, {}, {}});
#endif
    win.mnuUruchom();
    // Run goes once the compile has told how it ended.
    QTRY_COMPARE_WITH_TIMEOUT(f.platform.started.size(), 2, 10000);

    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    // appDir ends in the system's own separator.
    QCOMPARE(QDir::fromNativeSeparators(toolCommand(f.platform.started[0]).first()), assembler);
    QCOMPARE(QDir::fromNativeSeparators(toolCommand(f.platform.started[1]).first()), runTool);
#ifdef Q_OS_WIN
    // The helper beside the program, in a console titled for the source.
    QCOMPARE(f.platform.started[0].program, tools + u"\\kestoide-run.exe"_s);
    QCOMPARE(f.platform.started[1].arguments.first(2),
             (QStringList{u"--title"_s, u"Uruchomienie pliku "_s + QFileInfo(path).fileName()}));
    runAsStarted(f.platform.started[1]);
    // The assembler's own command line, as the helper builds it: the
    // program quoted, the source quoted where it holds a blank.
    const QString quoted = path.contains(u' ') ? u'"' + path + u'"' : path;
    QVERIFY(
        readAll(tools + u"/tools.log"_s)
            .contains((u"|cmd=\""_s + toolCommand(f.platform.started[0]).first() + u"\" "_s + quoted + u'|')
                          .toUtf8()));
#endif
    // Both tools run in the program's own current directory.
    const QString cwd = QDir::toNativeSeparators(QFileInfo(f.dir.path()).canonicalFilePath());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(assembler + u".args"_s), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runTool + u".args"_s), 10000);
    QCOMPARE(recordOf(assembler), (QStringList{cwd, path}));
    QCOMPARE(recordOf(runTool), (QStringList{cwd, u"/3"_s, f.path(hex)}));
    QVERIFY(QDir(f.dir.path()).entryList({u"pwned*"_s}).isEmpty());
}

void TestToolchain::toolThatCannotStartShowsItsBoxAndKeepsState()
{
    struct Tool {
        QString name;
        void (EditorWin::*command)();
        QString box;
        QString status;
    };
    const Tool tools[] = {
        {u"ruderari.exe"_s, &EditorWin::mnuKompiluj, noAssembler, u"Kompilacja pliku \"noname.asm\""_s},
        {u"zozevadi.exe"_s, &EditorWin::mnuUruchom, noRunTool, u"Uruchomienie pliku \"noname.asm\""_s}};
    // The tool missing: the lab's box, and where the program looked; there
    // but not executable: a box of its own that says so. (Windows starts
    // any file, and its helper's console tells; the box is for the helper,
    // which is not there either.)
#ifdef Q_OS_WIN
    const QString cannot = u"brak programu pomocniczego kestoide-run.exe w katalogu programu"_s;
#else
    const QString cannot = u"brak prawa do wykonania"_s;
#endif
    for (const Tool &tool : tools) {
        for (const bool present : {false, true}) {
            WindowFixture f;
            const QString folder = f.path(u"tools"_s);
            QVERIFY(QDir().mkpath(folder));
            if (present)
                installTool(folder + u'/' + tool.name, false);
            f.platform.startForReal = true;
            f.platform.appDir = folder;
            EditorWin &win = f.open();
            // Compiled earlier: a start that fails must not undo that. (How
            // that compile ended is not known, so Run asks first.)
            win.doc.docCompiled = true;
            win.doc.hexFile = u"earlier.hex"_s;
            const bool run = tool.command == &EditorWin::mnuUruchom;
            if (run)
                f.platform.answer(Button::Ok);

            (win.*tool.command)();

            QCOMPARE(f.platform.boxes.size(), run ? 2 : 1);
            if (run)
                QVERIFY(f.platform.boxes.takeFirst().text.endsWith(u"Czy mimo to uruchomić program?"_s));
            expectBox(f.platform.boxes[0],
                      present ? u"Nie można uruchomić pliku \""_s + folder + QDir::separator() + tool.name +
                                    u"\": "_s + cannot
                              : tool.box,
                      Buttons::Ok, Icon::Exclamation, u"KESTOIDE"_s);
            QCOMPARE(f.platform.boxes[0].informativeText,
                     present ? QString()
                             : u"Program szukał go w katalogu: "_s + QDir::toNativeSeparators(folder));
            QVERIFY(f.platform.started.isEmpty());
            QCOMPARE(win.Text1->text(), tool.status);
            QVERIFY(win.doc.docCompiled);
            QCOMPARE(win.doc.hexFile, u"earlier.hex"_s);
        }
    }
}

void TestToolchain::runCompilesFirstWhenNeededThenRuns()
{
    // Each arranges an untitled document that is not compiled, and the
    // answers; it gives the questions asked on the way.
    const std::function<QStringList(WindowFixture &)> arrange[] = {
        // Unchanged: compiled at once.
        [](WindowFixture &f) {
            f.platform.answer(Button::Ok);
            return QStringList{runQuestion(noname)};
        },
        // Changed: saved first, through Save As.
        [](WindowFixture &f) {
            f.win->txtEdit->setText(u"nop"_s);
            f.platform.answer(Button::Ok);
            f.platform.answer(Button::Ok);
            f.platform.chooseFile(f.path(u"prog.asm"_s));
            return QStringList{runQuestion(noname), compileQuestion(noname)};
        }};
    for (const auto &setUp : arrange) {
        WindowFixture f;
        useRecordingTools(f, f.path(u"tools"_s));
        EditorWin &win = f.open();
        win.doc.hexFile = u"earlier.hex"_s;
        const QStringList questions = setUp(f);

        win.mnuUruchom();

        QCOMPARE(f.platform.boxes.size(), questions.size());
        for (qsizetype i = 0; i < questions.size(); ++i)
            expectBox(f.platform.boxes[i], questions[i], Buttons::OkCancel, Icon::Exclamation,
                      u"KESTO IDE"_s);
        QVERIFY(f.platform.answers.isEmpty() && f.platform.dialogAnswers.isEmpty());
        // The run tool waits for the assembler, then gets the hex file that
        // the compile has just recorded.
        const QString source = win.dlgPlik.FileName;
        QCOMPARE(f.platform.started.size(), 1);
        QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + source + u"\" czeka na koniec kompilacji"_s);
        QVERIFY(writeFile(win.doc.hexFile, ":00000001FF\r\n"));
        f.platform.endTool(0, {ToolEnd::Exited, 0, {}, {}});
        QCOMPARE(f.platform.started.size(), 2);
        QCOMPARE(toolCommand(f.platform.started[0]).mid(1), QStringList{source});
        QCOMPARE(f.platform.started[0].state, WindowState::NormalFocused);
        QCOMPARE(win.doc.hexFile, source.chopped(4) + u".hex"_s);
        QCOMPARE(toolCommand(f.platform.started[1]).mid(1), (QStringList{u"/1"_s, win.doc.hexFile}));
        QCOMPARE(f.platform.started[1].state, WindowState::MinimizedNoFocus);
        QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + source + u'"');
    }
}

void TestToolchain::runAsksAgainUntilCompiledOrCancelled()
{
    struct Expected {
        QStringList boxes; // until the run question comes back
        QString status;
    };
    // Each arranges a document that is not compiled and the answers that
    // bring the run question back; the question is then cancelled.
    const std::function<Expected(WindowFixture &)> arrange[] = {
        // Cancelled at once.
        [](WindowFixture &f) {
            return Expected{{}, f.win->Text1->text()};
        },
        // Changed; its compile question cancelled.
        [](WindowFixture &f) {
            f.win->txtEdit->setText(u"nop"_s);
            f.platform.answer(Button::Ok);
            f.platform.answer(Button::Cancel);
            return Expected{{runQuestion(noname), compileQuestion(noname)}, f.win->Text1->text()};
        },
        // Changed; its Save As dialog cancelled.
        [](WindowFixture &f) {
            f.win->txtEdit->setText(u"nop"_s);
            f.platform.answer(Button::Ok);
            f.platform.answer(Button::Ok);
            f.platform.cancelDialog();
            return Expected{{runQuestion(noname), compileQuestion(noname)}, f.win->Text1->text()};
        },
        // Changed; the save failed, as its folder is gone (for root as well).
        [](WindowFixture &f) {
            const QString path = f.path(u"gone/prog.asm"_s);
            openThroughDialog(f, path, "nop\r\n");
            QDir(f.path(u"gone"_s)).removeRecursively();
            f.win->txtEdit->setText(u"nop"_s);
            for (int i = 0; i < 4; ++i)
                f.platform.answer(Button::Ok);
            return Expected{{runQuestion(path), compileQuestion(path),
                             u"Plik "_s + path +
                                 u" został usunięty lub przeniesiony po ostatnim otwarciu lub zapisie."
                                 u"\r\r\nCzy mimo to zapisać plik?"_s,
                             u"Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa."_s},
                            u"Nie zapisano: brak katalogu"_s};
        },
        // The assembler would not start: it is there, its terminal is not.
        [](WindowFixture &f) {
            const QString assembler = useRecordingTools(f, f.path(u"tools"_s)) + u"/ruderari.exe"_s;
            f.win->doc.appDir = f.path(u"tools/"_s);
            f.platform.failStarts = true;
            f.platform.answer(Button::Ok);
            f.platform.answer(Button::Ok);
#ifdef Q_OS_WIN
            const QString program = f.path(u"tools/kestoide-run.exe"_s);
#else
            const QString program = findToolHost().terminal;
#endif
            return Expected{{runQuestion(noname), u"Nie można uruchomić pliku \""_s + assembler +
                                                      u"\": system nie uruchomił programu "_s + program},
                            u"Kompilacja pliku \"noname.asm\""_s};
        }};
    for (const auto &setUp : arrange) {
        WindowFixture f;
        EditorWin &win = f.open();
        win.doc.hexFile = u"earlier.hex"_s;
        Expected expected = setUp(f);
        expected.boxes << runQuestion(win.dlgPlik.FileName);
        f.platform.answer(Button::Cancel);

        win.mnuUruchom();

        QStringList shown;
        for (const ShownBox &box : f.platform.boxes)
            shown << box.text;
        QCOMPARE(shown, expected.boxes);
        QVERIFY(f.platform.answers.isEmpty() && f.platform.dialogAnswers.isEmpty());
        QCOMPARE(f.platform.unexpectedBoxes + f.platform.unexpectedDialogs, 0);
        QVERIFY(f.platform.started.isEmpty());
        QCOMPARE(win.doc.hexFile, u"earlier.hex"_s);
        QVERIFY(!win.doc.docCompiled);
        QCOMPARE(win.Text1->text(), expected.status);
    }
}

void TestToolchain::unchangedUntitledCompilesNonameEachTimeWithoutQuestion()
{
    WindowFixture f;
    useRecordingTools(f, f.path(u"tools"_s));
    EditorWin &win = f.open();
    win.mnuKompiluj();
    win.menu.mnuKompiluj->trigger();
    QVERIFY(f.platform.boxes.isEmpty() && f.platform.dialogs.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    for (const StartedProcess &p : f.platform.started)
        QCOMPARE(toolCommand(p).mid(1), QStringList{u"noname.asm"_s});
    QCOMPARE(win.Text1->text(), u"Kompilacja pliku \"noname.asm\""_s);
    QCOMPARE(win.doc.hexFile, u"noname.hex"_s);
}

void TestToolchain::saveAsAfterCompileRunsWithOldHexFileWithoutQuestion()
{
    WindowFixture f;
    useRecordingTools(f, f.path(u"tools"_s));
    EditorWin &win = f.open();
    const QString second = f.path(u"kopia.asm"_s);
    QVERIFY(openThroughDialog(f, f.path(u"prog.asm"_s), "nop\r\n"));
    win.mnuKompiluj();
    QVERIFY(writeFile(f.path(u"prog.hex"_s), ":00000001FF\r\n"));
    f.platform.endTool(0, {ToolEnd::Exited, 0, {}, {}});
    f.platform.chooseFile(second);
    win.mnuZapiszjako();
    QVERIFY(win.doc.docCompiled);

    win.mnuUruchom();

    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    QCOMPARE(toolCommand(f.platform.started[1]).mid(1), (QStringList{u"/1"_s, f.path(u"prog.hex"_s)}));
    QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + second + u'"');
}

#ifndef Q_OS_WIN
// A Windows program beside the program runs through Wine, which gets the
// files as Windows paths; the port stays as it is.
void TestToolchain::windowsToolsRunThroughWineWithWindowsPaths()
{
    WindowFixture f;
    const QString tools = useRecordingTools(f, f.path(u"tools"_s));
    for (const QString &tool : {u"ruderari.exe"_s, u"zozevadi.exe"_s})
        QVERIFY(writeFile(tools + u'/' + tool, windowsProgram(0x8664)));
    f.platform.startForReal = true;
    EditorWin &win = f.open();
    const QString source = f.path(u"moje programy/prog.asm"_s);
    QVERIFY(openThroughDialog(f, source, "nop\r\n"));
    const auto windows = [](QString path) { return u"Z:"_s + path.replace(u'/', u'\\'); };
    const QString record = tools + u"/wine.args"_s;

    win.mnuKompiluj();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QCOMPARE(QString::fromUtf8(readAll(record)).split(QChar(0)),
             (QStringList{tools + u"/ruderari.exe"_s, windows(source), QString()}));
    QVERIFY(QFile::remove(record));
    // The stand-in Wine writes no hex file: Run asks before it sends none.
    QTRY_VERIFY_WITH_TIMEOUT(win.Text1->text().contains(u"nie zapisał"_s), 10000);
    f.platform.answer(Button::Ok);
    win.mnuUruchom();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 10000);
    QCOMPARE(QString::fromUtf8(readAll(record)).split(QChar(0)),
             (QStringList{tools + u"/zozevadi.exe"_s, u"/1"_s, windows(win.doc.hexFile), QString()}));
    QCOMPARE(f.platform.boxes.size(), 1);
}
#endif

QTEST_MAIN(TestToolchain)
#include "tst_toolchain.moc"
