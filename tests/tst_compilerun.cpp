// What Compile and Run do once their tools have told how they ended: Run
// sends only the program of the latest compile, waiting for it while it
// runs, and asks before sending anything else; a failed compile names its
// line and takes the caret there. The tools' ends are played by the test,
// as their helpers would tell them.

#include "compileoutput.h"
#include "testsupport.h"

using namespace kesto;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kesto::ToolEnd)

namespace {

const QString anyway = u"\r\r\nCzy mimo to uruchomić program?"_s;

ToolEnd exited(qint64 code, const QString &printed = {}) { return {ToolEnd::Exited, code, {}, printed}; }

// A window with prog.asm open and the lab's tools in place.
struct Lab {
    Lab()
    {
        useToolsFolder(f, f.path(u"tools"_s));
        f.open();
        source = f.path(u"prog.asm"_s);
        hex = f.path(u"prog.hex"_s);
        QVERIFY(openThroughDialog(f, source, "start: mov a,#1\r\n  foo r9\r\n  sjmp start\r\n"));
        QVERIFY(writeFile(hex, ":00000001FF\r\n")); // an earlier compile's
    }
    EditorWin &win() { return *f.win; }
    // What the assembler does before it ends: writes the hex file anew.
    void assemble() { QVERIFY(writeFile(hex, ":04000000740180FC0B\r\n:00000001FF\r\n")); }
    // The assembler started `nth` writes the hex file and ends well.
    void compiles(int nth)
    {
        assemble();
        f.platform.endTool(nth, exited(0));
    }
    // The tools started: 0 the assembler, 1 the run tool, ...
    qsizetype started() const { return f.platform.started.size(); }

    WindowFixture f;
    QString source, hex;
};

} // namespace

class TestCompileRun : public QObject {
    Q_OBJECT
private slots:
    void runWaitsForItsCompileThenSendsItsProgram();
    void pendingRunIsCalledOff_data();
    void pendingRunIsCalledOff();
    void runAsksBeforeSendingWhatNoGoodCompileMade_data();
    void runAsksBeforeSendingWhatNoGoodCompileMade();
    void onlyTheLatestCompileCounts();
    void compileEndGoesToTheNamedLine_data();
    void compileEndGoesToTheNamedLine();
    void failedRunSaysSo_data();
    void failedRunSaysSo();
    void sourceLineIsFoundInWhatTheToolPrinted_data();
    void sourceLineIsFoundInWhatTheToolPrinted();
};

void TestCompileRun::runWaitsForItsCompileThenSendsItsProgram()
{
    Lab lab;
    EditorWin &win = lab.win();
    win.txtEdit->setSelStart(0);
    win.txtEdit->setSelText(u"; nowa wersja\r\n"_s);
    // Ctrl+R after an edit: compile first (saving), as ever.
    lab.f.platform.answer(Button::Ok);
    lab.f.platform.answer(Button::Ok);

    win.menu.mnuUruchom->trigger();

    QCOMPARE(lab.started(), 1);
    const QString waiting = u"Uruchomienie pliku \""_s + lab.source + u"\" czeka na koniec kompilacji"_s;
    QCOMPARE(win.Text1->text(), waiting);
    // Asked again while it waits: still one Run, and no question.
    win.menu.mnuUruchom->trigger();
    QCOMPARE(lab.started(), 1);
    QCOMPARE(lab.f.platform.boxes.size(), 2);
    QCOMPARE(win.Text1->text(), waiting);
    // The editor stays the student's meanwhile.
    QVERIFY(win.txtEdit->isEnabled() && !win.txtEdit->isReadOnly());

    lab.compiles(0);

    QCOMPARE(lab.started(), 2);
    QCOMPARE(lab.f.platform.boxes.size(), 2);
    const QStringList runTool = lab.f.platform.started[1].arguments;
    QCOMPARE(runTool.mid(runTool.indexOf(u"--"_s) + 2), (QStringList{u"/1"_s, lab.hex}));
    QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + lab.source + u'"');
}

void TestCompileRun::pendingRunIsCalledOff_data()
{
    QTest::addColumn<int>("how"); // 0: an edit, 1: New, 2: Open
    QTest::addColumn<QString>("status");
    QTest::newRow("an edit") << 0 << u"Odwołano uruchomienie: tekst zmienił się w czasie kompilacji"_s;
    QTest::newRow("New") << 1 << u"Utworzono nowy dokument (odwołano uruchomienie)"_s;
    QTest::newRow("Open") << 2 << u"Otworzono plik: \"{other}\" (odwołano uruchomienie)"_s;
}

void TestCompileRun::pendingRunIsCalledOff()
{
    QFETCH(int, how);
    QFETCH(QString, status);
    Lab lab;
    EditorWin &win = lab.win();
    win.mnuKompiluj();
    win.mnuUruchom();
    const QString other = lab.f.path(u"inny.asm"_s);

    if (how == 0) {
        win.txtEdit->setSelText(u"x"_s);
    } else if (how == 1) {
        win.mnuNowy();
    } else {
        QVERIFY(openThroughDialog(lab.f, other, "nop\r\n"));
    }
    QCOMPARE(win.Text1->text(), status.replace(u"{other}"_s, other));
    lab.compiles(0);

    QCOMPARE(lab.started(), 1);
    QVERIFY(lab.f.platform.boxes.isEmpty());
}

void TestCompileRun::runAsksBeforeSendingWhatNoGoodCompileMade_data()
{
    QTest::addColumn<ToolEnd>("end");
    QTest::addColumn<bool>("assembled"); // the hex file was written anew
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("runFirst"); // Run asked while the compile ran, or only after its end
    QTest::addColumn<Button>("answer");
    const QString compile = u"Kompilacja pliku {source}"_s;
    const auto row = [](const char *name) { return &QTest::newRow(name); };
    // Debian's 8051 assembler rewrites its hex file even when it fails.
    *row("failed with a code, while Run waited; sent all the same")
        << exited(255) << true << compile + u" zakończyła się kodem 255."_s << true << Button::Ok;
    *row("failed with a code, Run after; declined")
        << exited(1) << true << compile + u" zakończyła się kodem 1."_s << false << Button::Cancel;
    *row("ended well but wrote no hex file")
        << exited(0) << false << compile + u" nie zapisała pliku {hex}."_s << true << Button::Cancel;
    *row("its helper went without a word")
        << ToolEnd{} << true << compile + u" nie wiadomo jak się zakończyła."_s << false << Button::Ok;
    *row("interrupted") << ToolEnd{ToolEnd::Interrupted, 11, u"sygnał 11, SIGSEGV"_s, {}} << false
                        << compile + u" została przerwana (sygnał 11, SIGSEGV)."_s << true << Button::Cancel;
    *row("the assembler did not start")
        << ToolEnd{ToolEnd::NotStarted, 0, u"brak prawa do wykonania pliku \"r\""_s, {}} << false
        << compile + u" nie rozpoczęła się (brak prawa do wykonania pliku \"r\")."_s << false << Button::Ok;
}

void TestCompileRun::runAsksBeforeSendingWhatNoGoodCompileMade()
{
    QFETCH(ToolEnd, end);
    QFETCH(bool, assembled);
    QFETCH(QString, question);
    QFETCH(bool, runFirst);
    QFETCH(Button, answer);
    Lab lab;
    EditorWin &win = lab.win();
    question.replace(u"{source}"_s, lab.source).replace(u"{hex}"_s, lab.hex);
    win.mnuKompiluj();
    if (runFirst)
        win.mnuUruchom();
    lab.f.platform.answer(answer);
    if (assembled)
        lab.assemble();
    lab.f.platform.endTool(0, end);
    const QString afterCompile = win.Text1->text();
    if (!runFirst)
        win.mnuUruchom();

    QCOMPARE(lab.f.platform.boxes.size(), 1);
    expectBox(lab.f.platform.boxes[0], question + anyway, Buttons::OkCancel, Icon::Exclamation,
              u"KESTO IDE"_s);
    // Enter keeps the old program off the KESTO system.
    QCOMPARE(lab.f.platform.boxes[0].defaultButton, std::optional(Button::Cancel));
    QCOMPARE(lab.started(), answer == Button::Ok ? 2 : 1);
    QCOMPARE(win.Text1->text(),
             answer == Button::Ok ? u"Uruchomienie pliku \""_s + lab.source + u'"' : afterCompile);
    // A failed compile asks each time Run is chosen.
    lab.f.platform.answer(Button::Cancel);
    win.mnuUruchom();
    QCOMPARE(lab.f.platform.boxes.size(), 2);
    QCOMPARE(lab.f.platform.boxes[1].text, question + anyway);
}

void TestCompileRun::onlyTheLatestCompileCounts()
{
    Lab lab;
    EditorWin &win = lab.win();
    win.mnuKompiluj();
    win.mnuKompiluj();
    win.mnuUruchom();
    // The first one's failure comes late: the second one decides.
    lab.f.platform.endTool(0, exited(2, u"prog.asm(2): błąd"_s));
    QCOMPARE(lab.started(), 2);
    QCOMPARE(win.Text1->text(), u"Uruchomienie pliku \""_s + lab.source + u"\" czeka na koniec kompilacji"_s);
    lab.compiles(1);
    QCOMPARE(lab.started(), 3);
    QVERIFY(lab.f.platform.boxes.isEmpty());
}

void TestCompileRun::compileEndGoesToTheNamedLine_data()
{
    QTest::addColumn<ToolEnd>("end");
    QTest::addColumn<int>("meanwhile"); // 0: nothing, 1: the caret moved, 2: the text changed
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("line"); // where the caret ends, 0 where it stays
    const QString as31 = u"Begin Pass #1\r\nWarning, line 2, syntax error near \"foo \".\r\n"_s;
    const QString failed = u"Błąd kompilacji (kod 255): "_s;
    QTest::newRow("as31's line") << exited(255, as31) << 0
                                 << failed + u"Warning, line 2, syntax error near \"foo \"."_s << 2;
    QTest::newRow("the caret moved meanwhile")
        << exited(255, as31) << 1 << failed + u"Warning, line 2, syntax error near \"foo \"."_s << 0;
    QTest::newRow("the text changed meanwhile")
        << exited(255, as31) << 2 << failed + u"Warning, line 2, syntax error near \"foo \"."_s << 0;
    QTest::newRow("the source echoed with its CR")
        << exited(1, u"prog.asm(3): nieznana etykieta:   sjmp start\r\r\n"_s) << 0
        << u"Błąd kompilacji (kod 1): prog.asm(3): nieznana etykieta:   sjmp start"_s << 3;
    QTest::newRow("no line named") << exited(1, u"Fatal error\r\n"_s) << 0
                                   << u"Błąd kompilacji (kod 1): komunikaty asemblera są w jego oknie"_s << 0;
    QTest::newRow("a good compile") << exited(0, u"Begin Pass #1\r\n"_s) << 0
                                    << u"Skompilowano plik \"prog.asm\""_s << 0;
    QTest::newRow("not known") << ToolEnd{} << 0
                               << u"Nie wiadomo, jak zakończyła się kompilacja pliku \"prog.asm\""_s << 0;
}

void TestCompileRun::compileEndGoesToTheNamedLine()
{
    QFETCH(ToolEnd, end);
    QFETCH(int, meanwhile);
    QFETCH(QString, status);
    QFETCH(int, line);
    Lab lab;
    EditorWin &win = lab.win();
    win.txtEdit->setSelStart(4);
    win.mnuKompiluj();
    if (meanwhile == 1)
        win.txtEdit->setSelStart(6);
    const qsizetype caret = win.txtEdit->selStart();
    if (meanwhile == 2) {
        win.txtEdit->setSelText(u"x"_s);
        win.txtEdit->setSelStart(caret);
    }
    const QString indicator = win.Text2->text();
    lab.assemble();

    lab.f.platform.endTool(0, end);

    QCOMPARE(win.Text1->text(), status);
    QCOMPARE(win.txtEdit->selStart(), line ? win.txtEdit->lineStart(line) : caret);
    QCOMPARE(win.Text2->text(), line ? u"Linia "_s + QString::number(line) : indicator);
}

void TestCompileRun::failedRunSaysSo_data()
{
    QTest::addColumn<ToolEnd>("end");
    QTest::addColumn<QString>("status"); // empty: as Run left it
    // Its helper's window is 42.
    const auto ended = [](ToolEnd end) {
        end.window = 42;
        return end;
    };
    QTest::newRow("sent") << ended(exited(0)) << QString();
    QTest::newRow("failed") << ended(exited(3))
                            << u"Błąd uruchomienia (kod 3): komunikaty są w oknie programu zozevadi.exe"_s;
    QTest::newRow("not known") << ended(ToolEnd{})
                               << u"Nie wiadomo, jak zakończyło się uruchomienie pliku \"prog.asm\""_s;
}

void TestCompileRun::failedRunSaysSo()
{
    QFETCH(ToolEnd, end);
    QFETCH(QString, status);
    Lab lab;
    EditorWin &win = lab.win();
    win.mnuKompiluj();
    lab.compiles(0);
    win.mnuUruchom();
    QCOMPARE(lab.started(), 2);
    const QString running = win.Text1->text();

    lab.f.platform.endTool(1, end);

    QCOMPARE(win.Text1->text(), status.isEmpty() ? running : status);
    // A failed run's window comes up from the taskbar, with its messages.
    QCOMPARE(lab.f.platform.shownToolWindows, status.isEmpty() ? QList<quint64>() : QList<quint64>{42});
}

void TestCompileRun::sourceLineIsFoundInWhatTheToolPrinted_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("line"); // 0: none found
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, const QString &printed, int line, const QString &text) {
        QTest::newRow(name) << printed << line << text;
    };
    row("name(n)", u"ok\nprog.asm(7): błąd\n"_s, 7, u"prog.asm(7): błąd"_s);
    row("path(n), any case", u"C:\\LAB\\PROG.ASM(3) error"_s, 3, u"C:\\LAB\\PROG.ASM(3) error"_s);
    row("Wine's path:n", u"Z:\\tmp\\zajęcia\\prog.asm:9: undefined"_s, 9,
        u"Z:\\tmp\\zajęcia\\prog.asm:9: undefined"_s);
    row("line n", u"Error, LINE 4, bad operand"_s, 4, u"Error, LINE 4, bad operand"_s);
    row("linia, linii, wiersz, wierszu", u"Błąd w linii 5\n"_s, 5, u"Błąd w linii 5"_s);
    row("wiersz", u"wiersz 6: zła etykieta"_s, 6, u"wiersz 6: zła etykieta"_s);
    row("past the text: the next that fits", u"line 900: no\nlinia 2: tak"_s, 2, u"linia 2: tak"_s);
    row("another file's line", u"inny.asm(3): błąd"_s, 0, QString());
    row("a word that ends in line", u"pipeline 3 stalled"_s, 0, QString());
    row("colours and controls gone", u"\x1b[31mprog.asm(8):\x1b[0m zły\tkod\x07"_s, 8,
        u"prog.asm(8): zły kod"_s);
    row("nothing", u"Begin Pass #1\r\nBegin Pass #2\r\n"_s, 0, QString());
}

void TestCompileRun::sourceLineIsFoundInWhatTheToolPrinted()
{
    QFETCH(QString, printed);
    QFETCH(int, line);
    QFETCH(QString, text);
    const auto found = findSourceLine(printed, u"/home/student/zajęcia/prog.asm"_s, 10);
    QCOMPARE(found ? found->line : 0, line);
    QCOMPARE(found ? found->text : QString(), text);
}

QTEST_MAIN(TestCompileRun)
#include "tst_compilerun.moc"
