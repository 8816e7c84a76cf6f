// New, Open, Save, Save As, Exit, the close button and Info on the real window,
// with the prompts and file dialogs answered by the scripted platform.

#include "testsupport.h"

using namespace kesto;

namespace {

enum Command { New, Exit, CloseButton, Open };
enum Outcome { Unchanged, AnswerNo, AnswerCancel, YesSaved, YesDialogCancelled, YesWriteFails };

const QString untitled = QStringLiteral("noname.asm");
const QString cannotSave =
    QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa.");

QString caption(const QString &path, bool changed)
{
    return QStringLiteral("KESTO IDE [") + path + u']' + (changed ? QStringLiteral(" *") : QString());
}

// Everything a command may change: text, path, caption, flags and the status line.
void expectDocument(const EditorWin &w, const QString &text, const QString &path, bool changed,
                    bool isUntitled, bool compiled, const QString &status)
{
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.dlgPlik.FileName, path);
    QCOMPARE(w.windowTitle(), caption(path, changed));
    QCOMPARE(w.doc.docChanged, changed);
    QCOMPARE(w.doc.docUntitled, isUntitled);
    QCOMPARE(w.doc.docCompiled, compiled);
    QCOMPARE(w.Text1->text(), status);
}

void openFile(WindowFixture &f, const QString &path)
{
    f.platform.chooseFile(path);
    f.win->mnuOtworz();
}

} // namespace

class TestDocumentCommands : public QObject {
    Q_OBJECT
private slots:
    void commandGoesOnOnlyWhenTextIsSafe_data();
    void commandGoesOnOnlyWhenTextIsSafe();
    void promptNamesTitledPathAndYesSavesWithoutDialog();
    void openOfUnreadableFileChangesNothing();
    void saveAndSaveAsDropMarkButKeepCompiledAndStatus();
    void saveOfFailedWriteKeepsChangedMark_data();
    void saveOfFailedWriteKeepsChangedMark();
    void foreignCharactersAreAskedAbout_data();
    void foreignCharactersAreAskedAbout();
    void infoSummarisesDocument_data();
    void infoSummarisesDocument();
};

void TestDocumentCommands::commandGoesOnOnlyWhenTextIsSafe_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("outcome");
    const char *commands[] = {"New", "Exit", "close button", "Open"};
    const char *outcomes[] = {"unchanged",       "No", "Cancel", "Yes, saved", "Yes, dialog cancelled",
                              "Yes, write fails"};
    for (int c = New; c <= Open; ++c)
        for (int o = Unchanged; o <= YesWriteFails; ++o)
            QTest::addRow("%s, %s", commands[c], outcomes[o]) << c << o;
}

void TestDocumentCommands::commandGoesOnOnlyWhenTextIsSafe()
{
    QFETCH(int, command);
    QFETCH(int, outcome);
    // A settings file without its line end shows whether saveset ran.
    const QByteArray settings("2");
    WindowFixture f(&settings);
    EditorWin &w = f.open();
    const QString openPath = f.path(QStringLiteral("in.asm"));
    const QString savePath = f.path(QStringLiteral("saved.asm"));
    QVERIFY(writeFile(openPath, "loaded\r\n"));

    const bool changed = outcome != Unchanged;
    const QString text = changed ? QStringLiteral("edited\r\n") : QString();
    if (changed)
        w.txtEdit->setText(text);
    w.doc.docCompiled = true;
    const QString status = w.Text1->text();
    if (changed)
        f.platform.answer(outcome == AnswerNo       ? kesto::Button::No
                          : outcome == AnswerCancel ? kesto::Button::Cancel
                                                    : kesto::Button::Yes);
    if (outcome == YesSaved)
        f.platform.chooseFile(savePath);
    if (outcome == YesDialogCancelled)
        f.platform.cancelDialog();
    if (outcome == YesWriteFails) {
        f.platform.chooseFile(f.path(QStringLiteral("nowhere/saved.asm")));
        f.platform.answer(kesto::Button::Ok);
    }
    if (command == Open)
        f.platform.chooseFile(openPath);

    bool closed = false;
    switch (command) {
    case New: w.mnuNowy(); break;
    case Exit: w.mnuZakoncz(); break;
    case CloseButton: closed = w.close(); break;
    case Open: w.mnuOtworz(); break;
    }

    const bool goesOn = outcome == Unchanged || outcome == AnswerNo || outcome == YesSaved;
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.unexpectedDialogs, 0);
    QCOMPARE(f.platform.boxes.size(), !changed ? 0 : outcome == YesWriteFails ? 2 : 1);
    if (changed) {
        const ShownBox &box = f.platform.boxes[0];
        QCOMPARE(box.text,
                 QStringLiteral("Tekst w pliku noname.asm zmienił się.\r\r\nCzy chcesz zapisać zmiany?"));
        QCOMPARE(box.buttons, kesto::Buttons::YesNoCancel);
        QCOMPARE(box.icon, kesto::Icon::Exclamation);
        QCOMPARE(box.title, QStringLiteral("KESTO IDE"));
    }
    if (outcome == YesWriteFails)
        QCOMPARE(f.platform.boxes[1].text, cannotSave);
    QCOMPARE(readAll(savePath), outcome == YesSaved ? QByteArray("edited\r\n") : QByteArray("<unreadable>"));
    const bool openShown =
        !f.platform.dialogs.isEmpty() && f.platform.dialogs.last().action == kesto::FileDialog::ShowOpen;
    QCOMPARE(openShown, command == Open && goesOn);

    const bool closes = command == Exit || command == CloseButton;
    QCOMPARE(f.platform.processEnded, closes && goesOn ? 1 : 0);
    if (closes) {
        // Ending the process runs nothing more; a refused close writes the settings.
        QCOMPARE(readAll(f.path(QStringLiteral("kestoide.ini"))), goesOn ? settings : settings + "\r\n");
        QCOMPARE(command == CloseButton ? closed : !w.doc.exitCancel, goesOn);
        if (goesOn)
            QCOMPARE(w.Text1->text(), changed ? QStringLiteral("Zamykanie") : status);
        else
            expectDocument(w, text, untitled, true, true, true, QStringLiteral("Zapisano ustawienia"));
    } else if (!goesOn) {
        expectDocument(w, text, untitled, true, true, true, status);
    } else if (command == New) {
        expectDocument(w, QString(), untitled, false, true, false, QStringLiteral("Utworzono nowy dokument"));
    } else {
        expectDocument(w, QStringLiteral("loaded\r\n"), openPath, false, false, false,
                       QStringLiteral("Otworzono plik: \"") + openPath + u'"');
        QVERIFY(f.platform.dialogs.last().settings.CancelError);
    }
}

void TestDocumentCommands::promptNamesTitledPathAndYesSavesWithoutDialog()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("my file.asm"));
    QVERIFY(writeFile(path, "old\r\n"));
    openFile(f, path);
    w.txtEdit->setText(QStringLiteral("new\r\n"));
    f.platform.answer(kesto::Button::Yes);
    w.mnuNowy();
    QCOMPARE(f.platform.boxes.size(), 1);
    QVERIFY(f.platform.boxes[0].text.startsWith(QStringLiteral("Tekst w pliku ") + path +
                                                QStringLiteral(" zmienił")));
    QCOMPARE(f.platform.dialogs.size(), 1); // only the Open dialog
    QCOMPARE(readAll(path), QByteArray("new\r\n"));
    expectDocument(w, QString(), untitled, false, true, false, QStringLiteral("Utworzono nowy dokument"));
}

void TestDocumentCommands::openOfUnreadableFileChangesNothing()
{
    // Directories, FIFOs and the like are refused the same way by the reader.
    WindowFixture f;
    EditorWin &w = f.open();
    const QString first = f.path(QStringLiteral("first.asm"));
    const QString bad = f.path(QStringLiteral("missing.asm"));
    QVERIFY(writeFile(first, "first\r\n"));
    openFile(f, first);
    w.txtEdit->setText(QStringLiteral("edited"));
    w.doc.docCompiled = true;
    const QString status = w.Text1->text();

    f.platform.answer(kesto::Button::No);
    f.platform.chooseFile(bad);
    f.platform.answer(kesto::Button::Ok);
    w.mnuOtworz();
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 2);
    QCOMPARE(f.platform.boxes[1].text, QStringLiteral("Nie można otworzyć pliku: ") + bad);
    expectDocument(w, QStringLiteral("edited"), first, true, false, true, status);
}

void TestDocumentCommands::saveAndSaveAsDropMarkButKeepCompiledAndStatus()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("a.asm"));
    const QString other = f.path(QStringLiteral("new name.asm"));
    QVERIFY(writeFile(path, "a\r\n"));
    openFile(f, path);
    const QString status = w.Text1->text();
    QTest::keyClick(w.txtEdit, Qt::Key_B);
    w.doc.docCompiled = true;
    w.mnuZapisz(); // titled: no dialog
    QCOMPARE(f.platform.dialogs.size(), 1);
    QCOMPARE(readAll(path), QByteArray("ba\r\n"));
    expectDocument(w, QStringLiteral("ba\r\n"), path, false, false, true, status);

    QTest::keyClick(w.txtEdit, Qt::Key_C);
    w.doc.docCompiled = true;
    f.platform.chooseFile(other);
    w.mnuZapiszjako();
    QCOMPARE(f.platform.dialogs.size(), 2);
    QCOMPARE(f.platform.dialogs[1].action, kesto::FileDialog::ShowSave);
    QCOMPARE(f.platform.dialogs[1].settings.FileName, path);
    QVERIFY(f.platform.dialogs[1].settings.CancelError);
    QCOMPARE(readAll(other), QByteArray("bca\r\n"));
    QCOMPARE(readAll(path), QByteArray("ba\r\n"));
    expectDocument(w, QStringLiteral("bca\r\n"), other, false, false, true, status);
    QVERIFY(f.platform.boxes.isEmpty());
}

void TestDocumentCommands::saveOfFailedWriteKeepsChangedMark_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"folder removed", "file became a directory", "Save As into missing folder",
                             "Save As onto a directory", "Save As cancelled"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestDocumentCommands::saveOfFailedWriteKeepsChangedMark()
{
    QFETCH(QString, kind);
    WindowFixture f;
    EditorWin &w = f.open();
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("sub")));
    const QString titled = f.path(QStringLiteral("sub/t.asm"));
    QVERIFY(writeFile(titled, "t\r\n"));
    const bool saveAs = kind.startsWith(u"Save As");
    if (kind != u"Save As into missing folder" && kind != u"Save As cancelled")
        openFile(f, titled);
    const QString path = w.dlgPlik.FileName;
    const bool wasUntitled = w.doc.docUntitled;
    w.txtEdit->setText(QStringLiteral("edited"));
    const QString status = w.Text1->text();

    if (kind == u"folder removed")
        QVERIFY(QDir(f.path(QStringLiteral("sub"))).removeRecursively());
    else if (kind == u"file became a directory")
        QVERIFY(QFile::remove(titled) && QDir().mkdir(titled));
    else if (kind == u"Save As into missing folder")
        f.platform.chooseFile(f.path(QStringLiteral("nowhere/x.asm")));
    else if (kind == u"Save As onto a directory")
        f.platform.chooseFile(f.path(QStringLiteral("sub")));
    else
        f.platform.cancelDialog();
    const bool cancelled = kind == u"Save As cancelled";
    if (!saveAs) // OK to the question about the file gone from the disk
        f.platform.answer(kesto::Button::Ok);
    if (!cancelled)
        f.platform.answer(kesto::Button::Ok);
    saveAs ? w.mnuZapiszjako() : w.mnuZapisz();

    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), cancelled ? 0 : saveAs ? 1 : 2);
    if (!cancelled)
        QCOMPARE(f.platform.boxes.last().text, cannotSave);
    expectDocument(w, QStringLiteral("edited"), path, true, wasUntitled, false, status);
}

void TestDocumentCommands::foreignCharactersAreAskedAbout_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK writes question marks") << true;
    QTest::newRow("Cancel writes nothing") << false;
}

void TestDocumentCommands::foreignCharactersAreAskedAbout()
{
    QFETCH(bool, ok);
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("f.asm"));
    const QString text = QStringLiteral("mov a,b\r\nłą ☺ x ☹");
    w.txtEdit->setText(text);
    const QString status = w.Text1->text();
    f.platform.chooseFile(path);
    f.platform.answer(ok ? kesto::Button::Ok : kesto::Button::Cancel);
    w.mnuZapiszjako();

    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 1);
    const ShownBox &box = f.platform.boxes[0];
    QCOMPARE(box.buttons, kesto::Buttons::OkCancel);
    QCOMPARE(box.icon, kesto::Icon::Exclamation);
    QCOMPARE(box.title, QStringLiteral("KESTO IDE"));
    // It names the first such character and its line.
    QVERIFY2(box.text.contains(u"☺") && !box.text.contains(u"☹") && box.text.contains(u"linii 2"),
             qPrintable(box.text));
    QCOMPARE(readAll(path), ok ? QByteArray("mov a,b\r\n\xB3\xB9 ? x ?\r\n") : QByteArray("<unreadable>"));
    expectDocument(w, text, ok ? path : untitled, !ok, !ok, false, status);
}

void TestDocumentCommands::infoSummarisesDocument_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("edited");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    // clang-format off
    QTest::newRow("empty") << QString() << false << untitled
                           << QStringLiteral("Plik: \"noname.asm\" Długość:  0 B,  1 linii (zapisany)");
    QTest::newRow("two lines") << QStringLiteral("a\r\nb") << false << untitled
                               << QStringLiteral("Plik: \"noname.asm\" Długość:  4 B,  2 linii (zapisany)");
    QTest::newRow("ends in CR LF") << QStringLiteral("a\r\n") << true << untitled
                                   << QStringLiteral("Plik: \"noname.asm\" Długość:  3 B,  2 linii (niezapisany)");
    QTest::newRow("lone LF and CR") << QStringLiteral("a\nb\nc\rd") << false << untitled
                                    << QStringLiteral("Plik: \"noname.asm\" Długość:  7 B,  2 linii (zapisany)");
    QTest::newRow("letters count once") << QStringLiteral("żółć") << true << QStringLiteral("/tmp/a b/c d.asm")
                                        << QStringLiteral("Plik: \"/tmp/a b/c d.asm\" Długość:  4 B,  1 linii (niezapisany)");
    QTest::newRow("beyond 16 bits") << QStringLiteral("\r\n").repeated(40000) << false << untitled
                                    << QStringLiteral("Plik: \"noname.asm\" Długość:  80000 B,  40001 linii (zapisany)");
    // clang-format on
}

void TestDocumentCommands::infoSummarisesDocument()
{
    QFETCH(QString, text);
    QFETCH(bool, edited);
    QFETCH(QString, path);
    QFETCH(QString, shown);
    WindowFixture f;
    EditorWin &w = f.open();
    w.txtEdit->setText(text);
    w.doc.docChanged = edited;
    w.dlgPlik.FileName = path;
    w.txtEdit->setSelStart(text.size()); // the line indicator waits for the next refresh
    const QString title = w.windowTitle();
    w.mnuInf();
    QCOMPARE(w.Text1->text(), shown);
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia ") + QString::number(1 + text.count(u'\r')));
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.doc.docChanged, edited);
    QCOMPARE(w.windowTitle(), title);
}

QTEST_MAIN(TestDocumentCommands)
#include "tst_documentcommands.moc"
