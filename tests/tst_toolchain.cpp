// Compile and Run: the questions and status texts, the Run loop, and the
// lab's tools started for real from a stand-in program directory.

#include "testsupport.h"

#include <QFileInfo>

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
// in "<its own path>.args"; the rename makes the record appear whole.
const QByteArray standInTool = R"sh(#!/bin/sh
printf '%s\0' "$(pwd -P)" "$@" > "$0.part" && mv -f "$0.part" "$0.args"
)sh";

void installTool(const QString &path, bool executable)
{
#ifdef Q_OS_WIN
    // The Unicode stand-in (tests/windows/standin.c) keeps the same record; a
    // file that is no program cannot be started.
    if (executable)
        QVERIFY(
            QFile::copy(QCoreApplication::applicationDirPath() + u"/../standin/standin-unicode.exe"_s, path));
    else
        QVERIFY(writeFile(path, "MZ, but no program"));
#else
    QVERIFY(writeFile(path, standInTool));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                            (executable ? QFile::ExeOwner : QFile::Permissions())));
#endif
}

QStringList recordOf(const QString &tool)
{
    QStringList parts = QString::fromUtf8(readAll(tool + u".args"_s)).split(QChar(0));
    parts.removeLast(); // after the last NUL
    return parts;
}

} // namespace

class TestToolchain : public QObject {
    Q_OBJECT
private slots:
    void toolsGetExactArgumentsWithoutShell_data();
    void toolsGetExactArgumentsWithoutShell();
    void toolThatCannotStartShowsItsBoxAndKeepsState();
    void runCompilesFirstWhenNeededThenRuns();
    void runAsksAgainUntilCompiledOrCancelled();
    void unchangedUntitledCompilesNonameEachTimeWithoutQuestion();
    void saveAsAfterCompileRunsWithOldHexFileWithoutQuestion();
};

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
    const QString tools = f.path(u"narzędzia KESTO"_s);
    const QString assembler = tools + u"/ruderari.exe"_s, runTool = tools + u"/zozevadi.exe"_s;
    QVERIFY(QDir().mkpath(tools));
    installTool(assembler, true);
    installTool(runTool, true);
    f.platform.startForReal = true;
    f.platform.appDir = tools;
    EditorWin &win = f.open();
    const QString path = f.path(source);
    QVERIFY(openThroughDialog(f, path, "nop\r\n"));

    win.mnuKompiluj();
    QCOMPARE(win.doc.hexFile, f.path(hex));
    QVERIFY(win.doc.docCompiled);
    win.mnuUruchom();

    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    // appDir ends in the system's own separator.
    QCOMPARE(QDir::fromNativeSeparators(f.platform.started[0].program), assembler);
    QCOMPARE(QDir::fromNativeSeparators(f.platform.started[1].program), runTool);
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
    // The tool missing, or there but not executable.
    const std::function<void(const QString &)> breakTool[] = {
        [](const QString &) {}, [](const QString &path) { installTool(path, false); }};
    for (const Tool &tool : tools) {
        for (const auto &breakIt : breakTool) {
            WindowFixture f;
            const QString folder = f.path(u"tools"_s);
            QVERIFY(QDir().mkpath(folder));
            breakIt(folder + u'/' + tool.name);
            f.platform.startForReal = true;
            f.platform.appDir = folder;
            EditorWin &win = f.open();
            // Compiled earlier: a start that fails must not undo that.
            win.doc.docCompiled = true;
            win.doc.hexFile = u"earlier.hex"_s;

            (win.*tool.command)();

            QCOMPARE(f.platform.boxes.size(), 1);
            expectBox(f.platform.boxes[0], tool.box, Buttons::Ok, Icon::Exclamation, u"KESTOIDE"_s);
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
        EditorWin &win = f.open();
        win.doc.hexFile = u"earlier.hex"_s;
        const QStringList questions = setUp(f);

        win.mnuUruchom();

        QCOMPARE(f.platform.boxes.size(), questions.size());
        for (qsizetype i = 0; i < questions.size(); ++i)
            expectBox(f.platform.boxes[i], questions[i], Buttons::OkCancel, Icon::Exclamation,
                      u"KESTO IDE"_s);
        QVERIFY(f.platform.answers.isEmpty() && f.platform.dialogAnswers.isEmpty());
        // The run tool gets the hex file that the compile has just recorded.
        const QString source = win.dlgPlik.FileName;
        QCOMPARE(f.platform.started.size(), 2);
        QCOMPARE(f.platform.started[0].arguments, QStringList{source});
        QCOMPARE(f.platform.started[0].state, WindowState::NormalFocused);
        QCOMPARE(win.doc.hexFile, source.chopped(4) + u".hex"_s);
        QCOMPARE(f.platform.started[1].arguments, (QStringList{u"/1"_s, win.doc.hexFile}));
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
                            f.win->Text1->text()};
        },
        // The assembler would not start.
        [](WindowFixture &f) {
            f.platform.failStarts = true;
            f.platform.answer(Button::Ok);
            f.platform.answer(Button::Ok);
            return Expected{{runQuestion(noname), noAssembler}, u"Kompilacja pliku \"noname.asm\""_s};
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
    EditorWin &win = f.open();
    win.mnuKompiluj();
    win.menu.mnuKompiluj->trigger();
    QVERIFY(f.platform.boxes.isEmpty() && f.platform.dialogs.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    for (const StartedProcess &p : f.platform.started)
        QCOMPARE(p.arguments, QStringList{u"noname.asm"_s});
    QCOMPARE(win.Text1->text(), u"Kompilacja pliku \"noname.asm\""_s);
    QCOMPARE(win.doc.hexFile, u"noname.hex"_s);
}

void TestToolchain::saveAsAfterCompileRunsWithOldHexFileWithoutQuestion()
{
    WindowFixture f;
    EditorWin &win = f.open();
    const QString second = f.path(u"kopia.asm"_s);
    QVERIFY(openThroughDialog(f, f.path(u"prog.asm"_s), "nop\r\n"));
    win.mnuKompiluj();
    f.platform.chooseFile(second);
    win.mnuZapiszjako();
    QVERIFY(win.doc.docCompiled);

    win.mnuUruchom();

    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    QCOMPARE(f.platform.started[1].arguments, (QStringList{u"/1"_s, f.path(u"prog.hex"_s)}));
    QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + second + u'"');
}

QTEST_MAIN(TestToolchain)
#include "tst_toolchain.moc"
