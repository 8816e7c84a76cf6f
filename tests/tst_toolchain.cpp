// Compile and Run: the questions and status texts, the Run loop, and the
// lab's tools started for real from a stand-in program directory.

#include "testsupport.h"

#include <QFileInfo>
#include <QHash>

using namespace kesto;

using namespace Qt::StringLiterals;
using kesto::Button;

namespace {

const QString noAssembler = u"Brak pliku RUDERARI.EXE w katalogu z programem KESTO IDE!!!"_s;
const QString noRunTool = u"Brak pliku ZOZEVADI.EXE w katalogu z programem KESTO IDE!!!"_s;

// Records its working directory and then its arguments, each ended by a NUL,
// in "<its own path>.args"; the rename makes the record appear whole.
const QByteArray standInTool = R"sh(#!/bin/sh
printf '%s\0' "$(pwd -P)" "$@" > "$0.part" && mv -f "$0.part" "$0.args"
)sh";

void installTool(const QString &path, bool executable)
{
    QVERIFY(writeFile(path, standInTool));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                            (executable ? QFile::ExeOwner : QFile::Permissions())));
}

QStringList recordOf(const QString &tool)
{
    QStringList parts = QString::fromUtf8(readAll(tool + u".args"_s)).split(QChar(0));
    parts.removeLast(); // after the last NUL
    return parts;
}

// Writes a source file and opens it: the document is titled and unchanged.
void openSource(WindowFixture &f, const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(writeFile(path, "nop\r\n"));
    f.platform.chooseFile(path);
    f.win->mnuOtworz();
    QCOMPARE(f.win->dlgPlik.FileName, path);
}

} // namespace

class TestToolchain : public QObject {
    Q_OBJECT
private slots:
    void toolsGetExactArgumentsWithoutShell_data();
    void toolsGetExactArgumentsWithoutShell();
    void toolThatCannotStartShowsItsBoxAndKeepsState_data();
    void toolThatCannotStartShowsItsBoxAndKeepsState();
    void runAsksUntilCompiledOrCancelled_data();
    void runAsksUntilCompiledOrCancelled();
    void unchangedUntitledCompilesNonameEachTimeWithoutQuestion();
    void saveAsAfterCompileRunsWithOldHexFileWithoutQuestion();
};

void TestToolchain::toolsGetExactArgumentsWithoutShell_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("hex");
    QTest::newRow("plain") << "prog.asm"
                           << "prog.hex";
    QTest::newRow("blanks") << "my lab/prog 1.asm"
                            << "my lab/prog 1.hex";
    QTest::newRow("shell characters") << "it's \"q\"; $(touch pwned) & `touch pwned` | x.asm"
                                      << "it's \"q\"; $(touch pwned) & `touch pwned` | x.hex";
    QTest::newRow("polish letters") << "źródła/zażółć gęślą jaźń.asm"
                                    << "źródła/zażółć gęślą jaźń.hex";
    QTest::newRow("two-letter extension") << "prog.s"
                                          << "prog.hex";
    QTest::newRow("no extension") << "prog"
                                  << "prog.hex";
    QTest::newRow("dot in a folder only") << "v1.2/prog"
                                          << "v1.2/prog.hex";
    // Only "/" separates folders here: lab.v2\prog is one file name, whose
    // extension starts at its dot.
    QTest::newRow("backslash in a file name") << "lab.v2\\prog"
                                              << "lab.hex";
    QTest::newRow("two dots") << "prog.v1.asm"
                              << "prog.v1.hex";
}

void TestToolchain::toolsGetExactArgumentsWithoutShell()
{
#ifdef Q_OS_WIN
    QSKIP("The stand-in tools are shell scripts.");
#endif
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
    openSource(f, path);

    win.mnuKompiluj();
    QCOMPARE(win.doc.hexFile, f.path(hex));
    QVERIFY(win.doc.docCompiled);
    win.mnuUruchom();

    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(f.platform.started.size(), 2);
    QCOMPARE(f.platform.started[0].program, assembler);
    QCOMPARE(f.platform.started[1].program, runTool);
    // Both tools run in the program's own current directory.
    const QString cwd = QFileInfo(f.dir.path()).canonicalFilePath();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(assembler + u".args"_s), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runTool + u".args"_s), 10000);
    QCOMPARE(recordOf(assembler), (QStringList{cwd, path}));
    QCOMPARE(recordOf(runTool), (QStringList{cwd, u"/3"_s, f.path(hex)}));
    QVERIFY(QDir(f.dir.path()).entryList({u"pwned*"_s}).isEmpty());
}

void TestToolchain::toolThatCannotStartShowsItsBoxAndKeepsState_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    const QString compiling = u"Kompilacja pliku \"noname.asm\""_s;
    const QString running = u"Uruchomienie pliku \"noname.asm\""_s;
    QTest::newRow("assembler missing") << "ruderari.exe" << false << noAssembler << compiling;
    QTest::newRow("assembler not executable") << "ruderari.exe" << true << noAssembler << compiling;
    QTest::newRow("run tool missing") << "zozevadi.exe" << false << noRunTool << running;
    QTest::newRow("run tool not executable") << "zozevadi.exe" << true << noRunTool << running;
}

void TestToolchain::toolThatCannotStartShowsItsBoxAndKeepsState()
{
    QFETCH(QString, tool);
    QFETCH(bool, present);
    QFETCH(QString, box);
    QFETCH(QString, status);
    WindowFixture f;
    const QString tools = f.path(u"tools"_s);
    QVERIFY(QDir().mkpath(tools));
    if (present)
        installTool(tools + u'/' + tool, false);
    f.platform.startForReal = true;
    f.platform.appDir = tools;
    EditorWin &win = f.open();
    // Compiled earlier: a start that fails must not undo that.
    win.doc.docCompiled = true;
    win.doc.hexFile = u"earlier.hex"_s;

    if (tool == u"ruderari.exe")
        win.mnuKompiluj();
    else
        win.mnuUruchom();

    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, box);
    QCOMPARE(f.platform.boxes[0].buttons, kesto::Buttons::Ok);
    QCOMPARE(f.platform.boxes[0].icon, kesto::Icon::Exclamation);
    QCOMPARE(f.platform.boxes[0].title, u"KESTOIDE"_s);
    QVERIFY(f.platform.started.isEmpty());
    QCOMPARE(win.Text1->text(), status);
    QVERIFY(win.doc.docCompiled);
    QCOMPARE(win.doc.hexFile, u"earlier.hex"_s);
}

void TestToolchain::runAsksUntilCompiledOrCancelled_data()
{
    QTest::addColumn<QString>("document"); // unchanged, changed, or changed with its folder gone
    QTest::addColumn<bool>("failStarts");
    QTest::addColumn<QString>("script"); // O: OK, C: Cancel, D: dialog cancelled, F: file chosen
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("runs");
    QTest::newRow("cancel") << "unchanged" << false << "C" << QStringList{"run"} << false;
    QTest::newRow("ok, cancel at compile question, cancel")
        << "changed" << false << "OCC" << QStringList{"run", "compile", "run"} << false;
    QTest::newRow("ok, save as cancelled, cancel")
        << "changed" << false << "OODC" << QStringList{"run", "compile", "run"} << false;
    QTest::newRow("ok, write failed, cancel")
        << "folder gone" << false << "OOOOC" << QStringList{"run", "compile", "other", "other", "run"}
        << false;
    QTest::newRow("ok, assembler fails, cancel")
        << "unchanged" << true << "OOC" << QStringList{"run", "assembler", "run"} << false;
    QTest::newRow("ok, compiled, run") << "unchanged" << false << "O" << QStringList{"run"} << true;
    QTest::newRow("ok, saved, compiled, run")
        << "changed" << false << "OOF" << QStringList{"run", "compile"} << true;
}

void TestToolchain::runAsksUntilCompiledOrCancelled()
{
    QFETCH(QString, document);
    QFETCH(bool, failStarts);
    QFETCH(QString, script);
    QFETCH(QStringList, boxes);
    QFETCH(bool, runs);
    WindowFixture f;
    EditorWin &win = f.open();
    if (document == u"folder gone") {
        openSource(f, f.path(u"gone/prog.asm"_s));
        // Without its folder the save fails, for root as well.
        QVERIFY(QDir(f.path(u"gone"_s)).removeRecursively());
    }
    if (document != u"unchanged")
        win.txtEdit->setText(u"nop"_s);
    win.doc.hexFile = u"earlier.hex"_s;
    f.platform.failStarts = failStarts;
    for (QChar step : script) {
        if (step == u'O' || step == u'C')
            f.platform.answer(step == u'O' ? Button::Ok : Button::Cancel);
        else if (step == u'D')
            f.platform.cancelDialog();
        else
            f.platform.chooseFile(f.path(u"prog.asm"_s));
    }
    const QString path = win.dlgPlik.FileName;
    const QString status = win.Text1->text();

    win.mnuUruchom();

    const QHash<QString, QString> kinds{
        {u"Program "_s + path +
             u" nie został skompilowany lub zmienił się.\r\r\nCzy chcesz go skompilować?"_s,
         u"run"_s},
        {u"Tekst w pliku "_s + path + u" zmienił się.\r\r\nCzy chcesz zapisać zmiany i skompilować?"_s,
         u"compile"_s},
        {noAssembler, u"assembler"_s}};
    QStringList shown;
    for (const ShownBox &b : f.platform.boxes) {
        shown << kinds.value(b.text, u"other"_s);
        if (shown.last() == u"other")
            continue;
        const bool question = shown.last() != u"assembler";
        QCOMPARE(b.buttons, question ? kesto::Buttons::OkCancel : kesto::Buttons::Ok);
        QCOMPARE(b.icon, kesto::Icon::Exclamation);
        QCOMPARE(b.title, question ? u"KESTO IDE"_s : u"KESTOIDE"_s);
    }
    QCOMPARE(shown, boxes);
    QVERIFY(f.platform.answers.isEmpty() && f.platform.dialogAnswers.isEmpty());
    QCOMPARE(f.platform.unexpectedBoxes + f.platform.unexpectedDialogs, 0);
    if (!runs) {
        QVERIFY(f.platform.started.isEmpty());
        QCOMPARE(win.doc.hexFile, u"earlier.hex"_s);
        QVERIFY(!win.doc.docCompiled);
        if (!failStarts)
            QCOMPARE(win.Text1->text(), status);
        return;
    }
    // The run tool gets the hex file that the compile has just recorded.
    const QString source = win.dlgPlik.FileName;
    QCOMPARE(f.platform.started.size(), 2);
    QCOMPARE(f.platform.started[0].arguments, QStringList{source});
    QCOMPARE(f.platform.started[0].state, kesto::WindowState::NormalFocused);
    QCOMPARE(win.doc.hexFile, source.chopped(4) + u".hex"_s);
    QCOMPARE(f.platform.started[1].arguments, (QStringList{u"/1"_s, win.doc.hexFile}));
    QCOMPARE(f.platform.started[1].state, kesto::WindowState::MinimizedNoFocus);
    QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + source + u'"');
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
    openSource(f, f.path(u"prog.asm"_s));
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
