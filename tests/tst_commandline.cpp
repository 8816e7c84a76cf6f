// Files handed to the program from outside: the command line (its options,
// "--", relative names, several files) and files dropped on the window.

#include "commandline.h"
#include "testsupport.h"

#include <QMimeData>
#include <QUrl>

using namespace kesto;
using namespace kesto::commandline;

namespace {

const QString cannotOpen = QStringLiteral("Nie można otworzyć pliku: ");

// What a file manager hands over when a file is dragged out of it.
struct Drag {
    explicit Drag(const QList<QUrl> &urls) { data.setUrls(urls); }
    // Enter, move and drop, as the system delivers them: to the widget under
    // the mouse, here the read-only status line, which leaves files to the
    // window. True when the drop was taken.
    bool dropOn(QWidget *target, Qt::DropActions offered, Qt::KeyboardModifiers keys = Qt::NoModifier)
    {
        QDragEnterEvent enter(QPoint(1, 1), offered, &data, Qt::LeftButton, keys);
        QDragMoveEvent move(QPoint(2, 2), offered, &data, Qt::LeftButton, keys);
        QDropEvent drop(QPointF(2, 2), offered, &data, Qt::LeftButton, keys);
        for (QDropEvent *event :
             {static_cast<QDropEvent *>(&enter), static_cast<QDropEvent *>(&move), &drop}) {
            QApplication::sendEvent(target, event);
            if (!event->isAccepted())
                return false;
            actions << event->dropAction();
        }
        return true;
    }
    QMimeData data;
    QList<Qt::DropAction> actions; // what the window told the file manager it does
};

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void helpAndVersionAreAnsweredBeforeQtStarts();
    void doubleDashEndsTheOptions();
    void relativeFileIsMadeAbsoluteAndCleanedWithoutResolvingLinks();
    void firstFileOpensAndTheRestAreIgnored();
    void unknownOptionOrEmptyNameIsAUsageError();
    void sessionFileOpensAfterTheUnsavedChangesQuestion();
    void sessionFileNotThereYetStartsEmptyUnderItsName();
    void droppedFileOpensOnceTheDropIsOver();
    void dropOfferedOnlyAsMoveIsRefused();
    void droppedFolderOrWebAddressGetsTheReadersMessage();
};

void TestCommandLine::helpAndVersionAreAnsweredBeforeQtStarts()
{
    const auto help = QStringLiteral("Użycie: kestoide [OPCJA]... [PLIK]\n");
    QVERIFY(earlyAnswer({QStringLiteral("--help")}).value_or(QString()).startsWith(help));
    QVERIFY(
        earlyAnswer({QStringLiteral("prog.asm"), QStringLiteral("-h")}).value_or(QString()).startsWith(help));
    const QString version = earlyAnswer({QStringLiteral("-style"), QStringLiteral("fusion"),
                                         QStringLiteral("--version"), QStringLiteral("--help")})
                                .value_or(QString());
    QVERIFY2(version.startsWith(QStringLiteral("kestoide (KESTO IDE) 1.")), qPrintable(version));
    QVERIFY(version.contains(QStringLiteral("GPLv3+")));
    // After "--" they are file names; Qt's options are not the program's business here.
    QVERIFY(!earlyAnswer({QStringLiteral("--"), QStringLiteral("--help")}));
    QVERIFY(!earlyAnswer({QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("prog.asm")}));
}

void TestCommandLine::doubleDashEndsTheOptions()
{
    // Qt would take "-style" after "--" and the name after it for its own option.
    const QStringList args = {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--"),
                              QStringLiteral("-style"), QStringLiteral("--")};
    QCOMPARE(optionsEnd(args), 2);
    QCOMPARE(optionsEnd({QStringLiteral("prog.asm")}), 1);
    // What main hands on once Qt took "-style fusion".
    const Request r = parse(args.mid(2), QStringLiteral("/lab"));
    QCOMPARE(r.error, QString());
    QCOMPARE(r.file, QDir::toNativeSeparators(QStringLiteral("/lab/-style")));
    QCOMPARE(r.ignored, QStringList{QStringLiteral("--")});
}

void TestCommandLine::relativeFileIsMadeAbsoluteAndCleanedWithoutResolvingLinks()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString link = dir.filePath(QStringLiteral("lab"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("real")), link));
    const auto native = [](const QString &path) { return QDir::toNativeSeparators(path); };
    QCOMPARE(absoluteFile(QStringLiteral("src/../prog.asm"), link),
             native(link + QStringLiteral("/prog.asm")));
    QCOMPARE(absoluteFile(QStringLiteral("./moje programy//próba.asm"), link),
             native(link + QStringLiteral("/moje programy/próba.asm")));
#ifdef Q_OS_WIN
    const QString root = QStringLiteral("C:");
#else
    const QString root;
#endif
    QCOMPARE(absoluteFile(root + QStringLiteral("/home/student/./lab/../x.asm"), link),
             native(root + QStringLiteral("/home/student/x.asm")));
    QCOMPARE(parse({QStringLiteral("../lab/prog.asm")}, link).file,
             native(link + QStringLiteral("/prog.asm")));
}

void TestCommandLine::firstFileOpensAndTheRestAreIgnored()
{
    const Request r = parse({QStringLiteral("a.asm"), QStringLiteral("b c.asm"), QStringLiteral("-"),
                             QStringLiteral("--"), QStringLiteral("-x.asm")},
                            QStringLiteral("/lab"));
    QCOMPARE(r.error, QString());
    QCOMPARE(r.file, QDir::toNativeSeparators(QStringLiteral("/lab/a.asm")));
    const QStringList ignored = {QStringLiteral("b c.asm"), QStringLiteral("-"), QStringLiteral("-x.asm")};
    QCOMPARE(r.ignored, ignored);
    QCOMPARE(
        ignoredFilesText(r.ignored),
        QStringLiteral("kestoide: otwieram tylko pierwszy plik; pominięte: \"b c.asm\" \"-\" \"-x.asm\"\n"));
    // No arguments: the start as it always was.
    const Request none = parse({}, QStringLiteral("/lab"));
    QVERIFY(none.file.isEmpty() && none.ignored.isEmpty() && none.error.isEmpty());
}

void TestCommandLine::unknownOptionOrEmptyNameIsAUsageError()
{
    const Request unknown =
        parse({QStringLiteral("a.asm"), QStringLiteral("--nie-ma")}, QStringLiteral("/lab"));
    QCOMPARE(unknown.error, QStringLiteral("kestoide: nieznana opcja: --nie-ma\n"
                                           "Wpisz \"kestoide --help\", aby zobaczyć opis opcji.\n"));
    QVERIFY(unknown.file.isEmpty());
    // Made absolute, an empty name would be the current folder.
    QCOMPARE(parse({QString()}, QStringLiteral("/lab")).error,
             QStringLiteral("kestoide: pusta nazwa pliku\n"));
}

void TestCommandLine::sessionFileOpensAfterTheUnsavedChangesQuestion()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("PROG.ASM"));
    QVERIFY(writeFile(path, "; \xa5\x86\r\nNOP\r\n")); // code page 852
    w.txtEdit->setText(QStringLiteral("zmieniony"));
    QVERIFY(w.doc.docChanged);
    f.platform.answer(Button::No);
    w.startSession(path);
    QCOMPARE(f.platform.boxes.size(), 1);
    QVERIFY(f.platform.boxes[0].text.contains(QStringLiteral("zmienił się")));
    QCOMPARE(w.txtEdit->text(), QStringLiteral("; ąć\r\nNOP\r\n"));
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + path + u']');
    QCOMPARE(w.Text1->text(), QStringLiteral("Otworzono plik: \"") + path + u'"');
    QVERIFY(!w.doc.docChanged && !w.doc.docUntitled);
}

void TestCommandLine::sessionFileNotThereYetStartsEmptyUnderItsName()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("nowy.asm"));
    w.startSession(path);
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(w.txtEdit->text(), QString());
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + path + u']');
    QCOMPARE(w.Text1->text(), QStringLiteral("Nowy plik: \"") + path + u'"');
    QVERIFY(!w.doc.docChanged && !w.doc.docUntitled);
    QVERIFY(!QFileInfo::exists(path));
    // The first Save writes it there, with no dialog and no question.
    QTest::keyClicks(w.txtEdit, QStringLiteral("NOP"));
    QVERIFY(w.mnuZapisz());
    QVERIFY(f.platform.dialogs.isEmpty() && f.platform.boxes.isEmpty());
    QCOMPARE(readAll(path), QByteArray("NOP\r\n"));

    // In a folder that is not there, it is the reader's error, as before.
    const QString lost = f.path(QStringLiteral("brak/nowy.asm"));
    f.platform.answer(Button::Ok);
    w.startSession(lost);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, cannotOpen + lost);
    QCOMPARE(w.dlgPlik.FileName, path);
}

void TestCommandLine::droppedFileOpensOnceTheDropIsOver()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, "START: NOP\r\n"));
    w.txtEdit->setText(QStringLiteral("zmieniony"));
    f.platform.answer(Button::No);
    Drag drag({QUrl::fromLocalFile(path), QUrl::fromLocalFile(f.path(QStringLiteral("other.asm")))});
    // Shift asks for a move, which would have the file manager delete the file.
    QVERIFY(drag.dropOn(w.Text1, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier));
    QCOMPARE(drag.actions, QList<Qt::DropAction>(3, Qt::CopyAction));
    // No question inside the drop: the file manager waits for it to end.
    QVERIFY(f.platform.boxes.isEmpty());
    QCOMPARE(w.txtEdit->text(), QStringLiteral("zmieniony"));
    const QString shown = QDir::toNativeSeparators(path);
    QTRY_COMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [") + shown + u']');
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("START: NOP\r\n"));
    QCOMPARE(w.Text1->text(), QStringLiteral("Otworzono plik: \"") + shown + u'"');
}

void TestCommandLine::dropOfferedOnlyAsMoveIsRefused()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("prog.asm"));
    QVERIFY(writeFile(path, "START: NOP\r\n"));
    Drag drag({QUrl::fromLocalFile(path)});
    QVERIFY(!drag.dropOn(w.Text1, Qt::MoveAction));
    QCoreApplication::processEvents();
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(QFile::exists(path));
}

void TestCommandLine::droppedFolderOrWebAddressGetsTheReadersMessage()
{
    WindowFixture f;
    EditorWin &w = f.open();
    // Drops on the editor arrive through its signal.
    emit w.txtEdit->urlsDropped({QUrl::fromLocalFile(f.dir.path())});
    QTRY_COMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0], cannotOpen + QDir::toNativeSeparators(f.dir.path()), Buttons::Ok,
              Icon::None, QStringLiteral("KESTOIDE"));
    emit w.txtEdit->urlsDropped({QUrl(QStringLiteral("https://example.org/prog.asm"))});
    QTRY_COMPARE(f.platform.boxes.size(), 2);
    expectBox(f.platform.boxes[1], cannotOpen + QStringLiteral("https://example.org/prog.asm"), Buttons::Ok,
              Icon::None, QStringLiteral("KESTOIDE"));
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(w.doc.docUntitled);
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
