// The window's make-up: layout in twips, the menu table, shortcuts that win
// over the editor's own key bindings.

#include "platform/qtplatform.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>

using namespace kesto;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void layoutInTwips_data();
    void layoutInTwips();
    void initialClientAreaLaysOutControls();
    void tinyAndMinimisedWindowsDoNotFail();
    void menuTable_data();
    void menuTable();
    void menusInOrder();
    void windowShortcutsWinWhileEditorHasFocus();
    void windowShortcutsWinWhileStatusFieldHasFocus();
    void startsWithEditorFocusedAndStatusFields();
    void fileDialogFiltersKeepWindowsMeaning();
};

void TestMainWindow::layoutInTwips_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("editor");
    QTest::addColumn<QRect>("text1");
    QTest::addColumn<QRect>("text2");
    QTest::newRow("initial") << QSize(7365, 5805) << QRect(0, 0, 7365, 5505) << QRect(0, 5505, 6365, 300)
                             << QRect(6365, 5505, 1000, 300);
    QTest::newRow("larger") << QSize(9000, 6000) << QRect(0, 0, 9000, 5700) << QRect(0, 5700, 8000, 300)
                            << QRect(8000, 5700, 1000, 300);
    // Below 1000 x 300 twips sizes clamp at zero instead of going negative.
    QTest::newRow("tiny") << QSize(600, 200) << QRect(0, 0, 600, 0) << QRect(0, -100, 0, 300)
                          << QRect(-400, -100, 1000, 300);
    QTest::newRow("minimised") << QSize(0, 0) << QRect(0, 0, 0, 0) << QRect(0, -300, 0, 300)
                               << QRect(-1000, -300, 1000, 300);
}

void TestMainWindow::layoutInTwips()
{
    QFETCH(QSize, client);
    const ClientLayout l = layoutForClientArea(client.width(), client.height());
    QTEST(l.txtEdit, "editor");
    QTEST(l.Text1, "text1");
    QTEST(l.Text2, "text2");
}

void TestMainWindow::initialClientAreaLaysOutControls()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QWidget *client = w.centralWidget();
    const double perPixel = 1440.0 / client->logicalDpiX();
    const auto twips = [&](int px) { return qRound(px * perPixel); };
    // One pixel of rounding either way.
    const auto near = [&](int px, int expected) { return qAbs(twips(px) - expected) <= perPixel; };
    QVERIFY2(near(client->width(), 7365), qPrintable(QString::number(twips(client->width()))));
    QVERIFY2(near(client->height(), 5805), qPrintable(QString::number(twips(client->height()))));
    QCOMPARE(w.txtEdit->pos(), QPoint(0, 0));
    QVERIFY(near(w.txtEdit->height(), 5505));
    QVERIFY(near(w.Text1->y(), 5505));
    QVERIFY(near(w.Text1->width(), 6365));
    QVERIFY(near(w.Text2->x(), 6365));
    QVERIFY(near(w.Text2->width(), 1000));
    QVERIFY(near(w.Text2->height(), 300));

    w.resize(w.width() + 100, w.height() + 50);
    QTRY_COMPARE(w.txtEdit->width(), client->width());
    QCOMPARE(w.Text2->x() + w.Text2->width(), client->width());
    QCOMPARE(w.Text1->y() + w.Text1->height(), client->height());
}

void TestMainWindow::tinyAndMinimisedWindowsDoNotFail()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.show();
    w.resize(5, 5);
    QTest::qWait(10);
    QVERIFY(w.txtEdit->width() >= 0 && w.txtEdit->height() >= 0 && w.Text1->width() >= 0);
    w.showMinimized();
    QTest::qWait(10);
    w.showNormal();
    QVERIFY(w.txtEdit->height() >= 0);
}

void TestMainWindow::menuTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<bool>("enabled");
    const auto row = [](const char *name, const QString &caption, QKeySequence key, bool enabled = true) {
        QTest::newRow(name) << QString::fromUtf8(name) << caption << key << enabled;
    };
    row("mnuNowy", "&Nowy", QKeySequence("Ctrl+N"));
    row("mnuOtworz", "&Otwórz", QKeySequence("Ctrl+O"));
    row("mnuInf", "Info", QKeySequence("F4"));
    row("mnuZapisz", "&Zapisz", QKeySequence("Ctrl+S"));
    row("mnuZapiszjako", "Zapisz jako...", QKeySequence("Ctrl+Z"));
    row("mnuZakoncz", "Za&kończ", {});
    row("mnuWytnij", "&Wytnij", QKeySequence("Ctrl+X"));
    row("mnuKopiuj", "&Kopiuj", QKeySequence("Ctrl+C"));
    row("mnuWklej", "Wkl&ej", QKeySequence("Ctrl+V"));
    row("mnuWszystko", "Zaznacz wszystko", QKeySequence("Ctrl+A"));
    row("mnuUsuń", "Usuń", {});
    row("mnuKompiluj", "Ko&mpiluj", QKeySequence("Ctrl+M"));
    row("mnuUruchom", "U&ruchom", QKeySequence("Ctrl+R"));
    row("mnuCOMPort", "Port COM:", {}, false);
    row("mnuCOM1", "COM1", {});
    row("mnuCOM2", "COM2", {});
    row("mnuCOM3", "COM3", {});
    row("mnuCOM4", "COM4", {});
    row("mnuInfo", "KESTO IDE - Informacje", QKeySequence("F1"));
}

void TestMainWindow::menuTable()
{
    QFETCH(QString, name);
    WindowFixture f;
    EditorWin &w = f.open();
    auto *action = w.findChild<QAction *>(name);
    QVERIFY(action);
    QTEST(action->text(), "caption");
    QTEST(action->shortcut(), "shortcut");
    QTEST(action->isEnabled(), "enabled");
}

void TestMainWindow::menusInOrder()
{
    WindowFixture f;
    EditorWin &w = f.open();
    const auto names = [](const QList<QAction *> &actions) {
        QStringList out;
        for (const QAction *a : actions)
            out << a->objectName();
        return out;
    };
    QCOMPARE(names(w.menuBar()->actions()),
             QStringList({"mnuPlik", "mnuEdit", "mnuKonfiguracja", "mnuPomoc"}));
    QStringList captions;
    for (const QAction *a : w.menuBar()->actions())
        captions << a->text();
    QCOMPARE(captions, QStringList({"&Plik", "&Edycja", "&Kompilator", "&Pomoc"}));
    QCOMPARE(names(w.menu.mnuPlik->actions()),
             QStringList({"mnuNowy", "mnuOtworz", "mnuInf", "mnuSpace", "mnuZapisz", "mnuZapiszjako",
                          "mnuSpace2", "mnuZakoncz"}));
    QVERIFY(w.menu.mnuSpace->isSeparator() && w.menu.mnuSpace2->isSeparator());
    QCOMPARE(names(w.menu.mnuEdit->actions()),
             QStringList({"mnuWytnij", "mnuKopiuj", "mnuWklej", "mnuWszystko", "mnuUsuń"}));
    QCOMPARE(names(w.menu.mnuKonfiguracja->actions()),
             QStringList({"mnuKompiluj", "mnuUruchom", "mnuSpace5", "mnuCOMPort", "mnuCOM1", "mnuCOM2",
                          "mnuCOM3", "mnuCOM4"}));
    QCOMPARE(names(w.menu.mnuPomoc->actions()), QStringList({"mnuInfo"}));
}

void TestMainWindow::windowShortcutsWinWhileEditorHasFocus()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.txtEdit->setFocus();
    QTRY_VERIFY(w.txtEdit->hasFocus());

    QTest::keyClicks(w.txtEdit, QStringLiteral("abc"));
    QCOMPARE(w.txtEdit->text(), QStringLiteral("abc"));

    // Ctrl+Z is Save As: the dialog opens and the text is not undone.
    f.platform.cancelDialog();
    QTest::keyClick(w.txtEdit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(f.platform.dialogs.size(), 1);
    QCOMPARE(f.platform.dialogs.at(0).action, kesto::FileDialog::ShowSave);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("abc"));

    // Ctrl+A is the menu's Select all, Ctrl+C its Copy (through the platform's clipboard).
    QTest::keyClick(w.txtEdit, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.txtEdit->selLength(), 3);
    QTest::keyClick(w.txtEdit, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(f.platform.clipboard, QStringLiteral("abc"));
    QCOMPARE(f.platform.clipboardClears, 1);

    // F4 is Info, F1 the About box.
    QTest::keyClick(w.txtEdit, Qt::Key_F4);
    QVERIFY(w.Text1->text().startsWith(QStringLiteral("Plik: ")));
    f.platform.answer(kesto::Button::Ok);
    QTest::keyClick(w.txtEdit, Qt::Key_F1);
    QCOMPARE(f.platform.boxes.size(), 1);
    QCOMPARE(w.txtEdit->text(), QStringLiteral("abc"));
}

void TestMainWindow::windowShortcutsWinWhileStatusFieldHasFocus()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.txtEdit->setText(QStringLiteral("abc"));
    for (QLineEdit *field : {w.Text1, w.Text2}) {
        w.txtEdit->setSelStart(1);
        QTest::mouseClick(field, Qt::LeftButton);
        QTRY_COMPARE(QApplication::focusWidget(), field);
        // Select all and Copy act on the editor, not on the field.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.txtEdit->selLength(), 3);
        QVERIFY(!field->hasSelectedText());
        f.platform.clipboard.clear();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(f.platform.clipboard, QStringLiteral("abc"));
        QCOMPARE(QApplication::focusWidget(), field);
    }
    // Every other shortcut of the window as well (the scripted platform
    // answers the boxes and dialogs they bring up).
    for (QAction *action : w.findChildren<QAction *>()) {
        if (action->shortcut().isEmpty())
            continue;
        w.Text1->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w.Text1);
        QSignalSpy triggered(action, &QAction::triggered);
        QTest::keySequence(QApplication::focusWidget(), action->shortcut());
        QVERIFY2(triggered.count() == 1, qPrintable(action->objectName()));
    }
}

void TestMainWindow::startsWithEditorFocusedAndStatusFields()
{
    WindowFixture f;
    EditorWin &w = f.open();
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.txtEdit));
    QVERIFY(w.Text1->isReadOnly() && w.Text2->isReadOnly());
    QCOMPARE(w.Text2->text(), QStringLiteral("0,0"));
    QCOMPARE(w.windowTitle(), QStringLiteral("KESTO IDE [noname.asm]"));
    QVERIFY(!w.windowIcon().isNull());
    // A status message longer than its field shows its beginning.
    w.dlgPlik.FileName = QStringLiteral("/bardzo/długa/ścieżka/").repeated(8) + QStringLiteral("p.asm");
    w.mnuInf();
    QCOMPARE(w.Text1->cursorPosition(), 0);
    // The status fields follow the editor in the focus order.
    QList<QWidget *> order;
    for (QWidget *x = w.txtEdit->nextInFocusChain(); x != w.txtEdit; x = x->nextInFocusChain()) {
        if (x == w.Text1 || x == w.Text2)
            order << x;
    }
    QCOMPARE(order, QList<QWidget *>({w.Text1, w.Text2}));
    QVERIFY(!w.txtEdit->accessibleName().isEmpty() && !w.Text1->accessibleName().isEmpty() &&
            !w.Text2->accessibleName().isEmpty());
}

void TestMainWindow::fileDialogFiltersKeepWindowsMeaning()
{
    // "*.*" matches every file on Windows, also names without a dot; the
    // dialog hides the pattern part, so the descriptions read as written.
    QCOMPARE(kesto::qtNameFilters(
                 QStringLiteral("Wszystkie pliki (*.*)|*.*|Pliki assemblera KESTO (*.asm)|*.asm|")),
             QStringList({"Wszystkie pliki (*.*) (*)", "Pliki assemblera KESTO (*.asm) (*.asm)"}));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
