// New, Open, Save, Save As, Exit, the close button and Info on the real window,
// with the prompts and file dialogs answered by the scripted platform.

#include "testsupport.h"

using namespace kesto;

namespace {

const QString untitled = QStringLiteral("noname.asm");
const QString cannotSave =
    QStringLiteral("Nie można zapisać pliku. Sprawdź czy podana ścieżka jest właściwa.");
const QString question =
    QStringLiteral("Tekst w pliku noname.asm zmienił się.\r\r\nCzy chcesz zapisać zmiany?");

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

// The four commands that may throw the text away, each asking first.
enum class Command { New, Open, Exit, CloseButton };
constexpr Command everyCommand[] = {Command::New, Command::Open, Command::Exit, Command::CloseButton};

// A window whose untitled text is edited and compiled; the settings file
// lacks its line end, so a rewrite by saveset shows.
struct ChangedWindow {
    const QByteArray settings{"2"};
    WindowFixture f{&settings};
    EditorWin &w = f.open();
    const QString openPath = f.path(QStringLiteral("in.asm"));
    QString status;

    ChangedWindow()
    {
        writeFile(openPath, "loaded\r\n");
        w.txtEdit->setText(QStringLiteral("edited\r\n"));
        w.doc.docCompiled = true;
        status = w.Text1->text();
    }
    // Runs the command; true when the window agreed to close.
    bool run(Command c)
    {
        if (c == Command::Open)
            f.platform.chooseFile(openPath); // used only if Open gets to its dialog
        switch (c) {
        case Command::New: w.mnuNowy(); return false;
        case Command::Open: w.mnuOtworz(); return false;
        case Command::Exit: w.mnuZakoncz(); return !w.doc.exitCancel && f.platform.processEnded > 0;
        case Command::CloseButton: return w.close();
        }
        return false;
    }
    // What each command leaves once it went on past the question.
    void expectWentOn(Command c)
    {
        QCOMPARE(f.platform.unexpectedDialogs, 0);
        switch (c) {
        case Command::New:
            expectDocument(w, QString(), untitled, false, true, false,
                           QStringLiteral("Utworzono nowy dokument"));
            break;
        case Command::Open:
            expectDocument(w, QStringLiteral("loaded\r\n"), openPath, false, false, false,
                           QStringLiteral("Otworzono plik: \"") + openPath + u'"');
            QVERIFY(f.platform.dialogs.last().settings.CancelError);
            break;
        case Command::Exit:
        case Command::CloseButton:
            // Ending the process runs nothing more: the settings stay as they were.
            QCOMPARE(f.platform.processEnded, 1);
            QCOMPARE(readAll(f.path(QStringLiteral("kestoide.ini"))), settings);
            break;
        }
    }
    // `shown` is the status line after a failed save, also when the window
    // was to close: a refused close writes the settings, and says so only
    // when no save failed.
    void expectKept(Command c, const QString &shown = {})
    {
        QCOMPARE(f.platform.processEnded, 0);
        const bool closing = c == Command::Exit || c == Command::CloseButton;
        QCOMPARE(readAll(f.path(QStringLiteral("kestoide.ini"))), closing ? settings + "\r\n" : settings);
        expectDocument(w, QStringLiteral("edited\r\n"), untitled, true, true, true,
                       !shown.isEmpty() ? shown
                       : closing        ? QStringLiteral("Zapisano ustawienia")
                                        : status);
    }
};

// A window whose file, opened from a folder of its own, is edited and compiled.
struct EditedFile {
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("sub/t.asm"));
    QString status;

    EditedFile()
    {
        QVERIFY(openThroughDialog(f, path, "t\r\n"));
        w.txtEdit->setText(QStringLiteral("edited"));
        w.doc.docCompiled = true;
        status = w.Text1->text();
    }
    void expectKept(const QString &shown)
    {
        expectDocument(w, QStringLiteral("edited"), path, true, false, true, shown);
    }
};

} // namespace

class TestDocumentCommands : public QObject {
    Q_OBJECT
private slots:
    void unchangedDocumentIsLeftWithoutQuestion();
    void questionNamesFileAndOffersYesNoCancel();
    void cancelAtQuestionKeepsDocument();
    void noAtQuestionThrowsTextAway();
    void yesSavesThenGoesOn();
    void yesWhoseSaveDidNotHappenKeepsText();
    void openOfUnreadableFileChangesNothing();
    void saveAndSaveAsDropMarkButKeepCompiledAndStatus();
    void failedSaveKeepsChangedMark();
    void failedSaveAsKeepsPathAndUntitled();
    void foreignCharactersAreAskedAboutBeforeWriting();
    void infoSummarisesDocument_data();
    void infoSummarisesDocument();
    void openWeighsLettersOfFilesFromElsewhere_data();
    void openWeighsLettersOfFilesFromElsewhere();
};

void TestDocumentCommands::unchangedDocumentIsLeftWithoutQuestion()
{
    for (const Command c : everyCommand) {
        ChangedWindow d;
        d.w.doc.docChanged = false; // as after a save
        d.run(c);
        QVERIFY(d.f.platform.boxes.isEmpty());
        d.expectWentOn(c);
    }
}

void TestDocumentCommands::questionNamesFileAndOffersYesNoCancel()
{
    ChangedWindow d;
    d.f.platform.answer(Button::Cancel);
    d.w.mnuNowy();
    QCOMPARE(d.f.platform.boxes.size(), 1);
    expectBox(d.f.platform.boxes[0], question, Buttons::YesNoCancel, Icon::Exclamation,
              QStringLiteral("KESTO IDE"));

    // A titled document is named by its path, and Yes saves it without a dialog.
    const QString path = d.f.path(QStringLiteral("my file.asm"));
    QVERIFY(openThroughDialog(d.f, path, "old\r\n", Button::No));
    d.w.txtEdit->setText(QStringLiteral("new\r\n"));
    d.f.platform.answer(Button::Yes);
    d.w.mnuNowy();
    QCOMPARE(d.f.platform.boxes.last().text,
             QStringLiteral("Tekst w pliku ") + path +
                 QStringLiteral(" zmienił się.\r\r\nCzy chcesz zapisać zmiany?"));
    QCOMPARE(d.f.platform.dialogs.size(), 1); // only the Open dialog
    QCOMPARE(readAll(path), QByteArray("new\r\n"));
}

void TestDocumentCommands::cancelAtQuestionKeepsDocument()
{
    for (const Command c : everyCommand) {
        ChangedWindow d;
        d.f.platform.answer(Button::Cancel);
        QVERIFY(!d.run(c));
        QCOMPARE(d.f.platform.boxes.size(), 1);
        QVERIFY(d.f.platform.dialogs.isEmpty());
        d.expectKept(c);
    }
}

void TestDocumentCommands::noAtQuestionThrowsTextAway()
{
    for (const Command c : everyCommand) {
        ChangedWindow d;
        d.f.platform.answer(Button::No);
        d.run(c);
        QCOMPARE(d.f.platform.boxes.size(), 1);
        d.expectWentOn(c);
    }
}

void TestDocumentCommands::yesSavesThenGoesOn()
{
    for (const Command c : everyCommand) {
        ChangedWindow d;
        const QString saved = d.f.path(QStringLiteral("saved.asm"));
        d.f.platform.answer(Button::Yes);
        d.f.platform.chooseFile(saved);
        d.run(c);
        QCOMPARE(d.f.platform.unexpectedBoxes, 0);
        QCOMPARE(d.f.platform.dialogs.first().action, FileDialog::ShowSave);
        QCOMPARE(readAll(saved), QByteArray("edited\r\n"));
        d.expectWentOn(c);
    }
}

void TestDocumentCommands::yesWhoseSaveDidNotHappenKeepsText()
{
    for (const Command c : everyCommand) {
        ChangedWindow cancelled;
        cancelled.f.platform.answer(Button::Yes);
        cancelled.f.platform.cancelDialog();
        QVERIFY(!cancelled.run(c));
        QCOMPARE(cancelled.f.platform.boxes.size(), 1);
        cancelled.expectKept(c);

        ChangedWindow failed;
        failed.f.platform.answer(Button::Yes);
        failed.f.platform.chooseFile(failed.f.path(QStringLiteral("nowhere/saved.asm")));
        failed.f.platform.answer(Button::Ok);
        QVERIFY(!failed.run(c));
        QCOMPARE(failed.f.platform.unexpectedBoxes, 0);
        QCOMPARE(failed.f.platform.boxes.size(), 2);
        QCOMPARE(failed.f.platform.boxes[1].text, cannotSave);
        failed.expectKept(c, QStringLiteral("Nie zapisano: brak katalogu"));
    }
}

void TestDocumentCommands::openOfUnreadableFileChangesNothing()
{
    // Which paths the reader refuses is a test of its own: all of them fail here alike.
    EditedFile d;
    const QString bad = d.f.path(QStringLiteral("missing.asm"));
    d.f.platform.answer(Button::No);
    d.f.platform.chooseFile(bad);
    d.f.platform.answer(Button::Ok);
    d.w.mnuOtworz();
    QCOMPARE(d.f.platform.unexpectedBoxes, 0);
    QCOMPARE(d.f.platform.boxes.size(), 2);
    QCOMPARE(d.f.platform.boxes[1].text, QStringLiteral("Nie można otworzyć pliku: ") + bad);
    d.expectKept(QStringLiteral("Nie otworzono: ") + qt_error_string(ENOENT));
}

void TestDocumentCommands::saveAndSaveAsDropMarkButKeepCompiledAndStatus()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("a.asm"));
    const QString other = f.path(QStringLiteral("new name.asm"));
    QVERIFY(openThroughDialog(f, path, "a\r\n"));
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
    QCOMPARE(f.platform.dialogs[1].action, FileDialog::ShowSave);
    QCOMPARE(f.platform.dialogs[1].settings.FileName, path);
    QVERIFY(f.platform.dialogs[1].settings.CancelError);
    QCOMPARE(readAll(other), QByteArray("bca\r\n"));
    QCOMPARE(readAll(path), QByteArray("ba\r\n"));
    expectDocument(w, QStringLiteral("bca\r\n"), other, false, false, true, status);
    QVERIFY(f.platform.boxes.isEmpty());
}

void TestDocumentCommands::failedSaveKeepsChangedMark()
{
    // Which writes the system refuses is a test of its own: all of them fail here alike.
    EditedFile d;
    d.f.platform.chooseFile(d.f.path(QStringLiteral("nowhere/x.asm")));
    d.f.platform.answer(Button::Ok);
    QVERIFY(!d.w.mnuZapiszjako());
    QVERIFY(QDir(d.f.path(QStringLiteral("sub"))).removeRecursively());
    d.f.platform.answer(Button::Ok); // write over the file gone from the disk
    d.f.platform.answer(Button::Ok);
    QVERIFY(!d.w.mnuZapisz());
    QCOMPARE(d.f.platform.unexpectedBoxes, 0);
    QCOMPARE(d.f.platform.boxes.size(), 3);
    QCOMPARE(d.f.platform.boxes[0].text, cannotSave);
    QCOMPARE(d.f.platform.boxes[2].text, cannotSave);
    d.expectKept(QStringLiteral("Nie zapisano: brak katalogu"));
}

void TestDocumentCommands::failedSaveAsKeepsPathAndUntitled()
{
    // Into a missing folder, and the dialog cancelled.
    WindowFixture f;
    EditorWin &w = f.open();
    w.txtEdit->setText(QStringLiteral("edited"));
    f.platform.chooseFile(f.path(QStringLiteral("nowhere/x.asm")));
    f.platform.answer(Button::Ok);
    QVERIFY(!w.mnuZapiszjako());
    f.platform.cancelDialog();
    QVERIFY(!w.mnuZapiszjako());
    QCOMPARE(f.platform.unexpectedBoxes, 0);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(f.platform.boxes[0].text, cannotSave);
    expectDocument(w, QStringLiteral("edited"), untitled, true, true, false,
                   QStringLiteral("Nie zapisano: brak katalogu"));
}

void TestDocumentCommands::foreignCharactersAreAskedAboutBeforeWriting()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("f.asm"));
    const QString text = QStringLiteral("mov a,b\r\nłą ☺ x ☹");
    w.txtEdit->setText(text);
    const QString status = w.Text1->text();
    f.platform.chooseFile(path);
    f.platform.answer(Button::Cancel);
    QVERIFY(!w.mnuZapiszjako());
    // It names the first such character, its line and how many there are.
    const QString question =
        QStringLiteral("Tekstu nie można w całości zapisać w kodowaniu Windows-1250: znak "
                       "„☺” (U+263A) w linii 2 i pozostałe takie znaki (razem 2) zostaną "
                       "zapisane jako „?”.\r\r\nCzy mimo to zapisać plik?");
    QCOMPARE(f.platform.boxes.size(), 1);
    expectBox(f.platform.boxes[0], question, Buttons::OkCancel, Icon::Exclamation,
              QStringLiteral("KESTO IDE"));
    // Enter keeps the text unsaved: '?' in place of letters takes a deliberate OK.
    QCOMPARE(f.platform.boxes[0].defaultButton, std::optional(Button::Cancel));
    QVERIFY(!QFileInfo::exists(path));
    expectDocument(w, text, untitled, true, true, false, status);

    // OK writes them as question marks.
    f.platform.chooseFile(path);
    f.platform.answer(Button::Ok);
    QVERIFY(w.mnuZapiszjako());
    QCOMPARE(f.platform.boxes.size(), 2);
    QCOMPARE(f.platform.boxes[1].text, question);
    QCOMPARE(readAll(path), QByteArray("mov a,b\r\n\xB3\xB9 ? x ?\r\n"));
    expectDocument(w, text, path, false, false, false, status);
    QCOMPARE(f.platform.unexpectedBoxes, 0);
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
                                    << QStringLiteral("Plik: \"noname.asm\" Długość:  7 B,  4 linii (zapisany)");
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
    // The field may be too narrow for it: the whole is its tooltip and what a reader reads.
    QCOMPARE(w.Text1->toolTip(), shown);
    QCOMPARE(w.Text1->accessibleDescription(), shown);
    QCOMPARE(w.Text2->text(), QStringLiteral("Linia ") + QString::number(1 + w.txtEdit->breakCount()));
    QCOMPARE(w.txtEdit->text(), text);
    QCOMPARE(w.doc.docChanged, edited);
    QCOMPARE(w.windowTitle(), title);
}

void TestDocumentCommands::openWeighsLettersOfFilesFromElsewhere_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("note"); // after "Otworzono plik: "path""
    // DOS: every letter of code page 852 and a frame whose corners and
    // lines are letters in Windows-1250.
    QTest::newRow("DOS letters and frame")
        << QByteArray("\xA5\xA9\xA2\x98\x88\xBE\xAB\x86\xE4\xA4\xA8\xE0\x97\x9D\xBD\x8D\x8F\xE3\r\n"
                      "\xC9\xCD\xBB\xDA\xC4\xBF\r\n\xBA\xB3\r\n\xC8\xCD\xBC\xC0\xC4\xD9")
        << QStringLiteral("ąęóśłżźćńĄĘÓŚŁŻŹĆŃ\r\nÉÍ»ÚÄż\r\nşł\r\nČÍĽŔÄŮ") << QString();
    // "pętla główna », ile ú": 852's » and ú are Ż and Ł in Windows-1250.
    QTest::newRow("DOS outweighs two Windows letters")
        << QByteArray("p\xA9tla g\x88\xA2wna \xAF ile \xA3") << QStringLiteral("pętla główna Ż ile Ł")
        << QStringLiteral(" (strona kodowa 852; litery DOS: 3, Windows-1250: 2)");
    QTest::newRow("tie") << QByteArray("\xF3\x97") << QStringLiteral("óŚ")
                         << QStringLiteral(" (strona kodowa 852; litery DOS: 1, Windows-1250: 1)");
    // "; zażółć gęślą jaźń — ©" from a word processor.
    QTest::newRow("Windows outweighs em dash and copyright")
        << QByteArray("; za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1 \x97 \xA9")
        << QStringLiteral("; zażółć gęślą jaźń — ©")
        << QStringLiteral(" (Windows-1250; litery Windows-1250: 6, DOS: 2)");
    QTest::newRow("Windows alone") << QByteArray("\xA5\x8F\xF3") << QStringLiteral("ĄŹó")
                                   << QStringLiteral(" (Windows-1250)");
    // Ą and Ź of Windows-1250 are letters of code page 852 too, and lose.
    QTest::newRow("no evidence") << QByteArray("; K\xA5T \x8FLE") << QStringLiteral("; KąT ĆLE") << QString();
    QTest::newRow("UTF-8") << QByteArray("\xC5\xBC") << QStringLiteral("ż")
                           << QStringLiteral(" (UTF-8; zostanie zapisany w Windows-1250)");
}

void TestDocumentCommands::openWeighsLettersOfFilesFromElsewhere()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, note);
    WindowFixture f;
    EditorWin &w = f.open();
    const QString path = f.path(QStringLiteral("from elsewhere.asm"));
    QVERIFY(openThroughDialog(f, path, file));
    QTEST(w.txtEdit->text(), "text");
    QCOMPARE(w.Text1->text(), QStringLiteral("Otworzono plik: \"") + path + u'"' + note);
}

QTEST_MAIN(TestDocumentCommands)
#include "tst_documentcommands.moc"
