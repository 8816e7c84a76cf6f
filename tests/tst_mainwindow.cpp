// The window's make-up: layout in twips, the menu table, shortcuts that win
// over the editor's own key bindings.

#include "platform/qtplatform.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

using namespace kesto;

namespace {

// The controls stand where layoutForClientArea puts them for the client
// area's present size, to a pixel's rounding.
void expectLayoutFollowsClientArea(const EditorWin &w)
{
    const QWidget *client = w.centralWidget();
    const double perX = 1440.0 / client->logicalDpiX(), perY = 1440.0 / client->logicalDpiY();
    const ClientLayout l =
        layoutForClientArea(qRound(client->width() * perX), qRound(client->height() * perY));
    const auto near = [&](const QRect &px, const QRect &twips) {
        return qAbs(px.x() * perX - twips.x()) <= perX && qAbs(px.y() * perY - twips.y()) <= perY &&
               qAbs(px.width() * perX - twips.width()) <= perX &&
               qAbs(px.height() * perY - twips.height()) <= perY;
    };
    const std::pair<const QWidget *, QRect> controls[] = {
        {w.txtEdit, l.txtEdit}, {w.Text1, l.Text1}, {w.Text2, l.Text2}};
    for (const auto &[control, twips] : controls)
        QVERIFY2(near(control->geometry(), twips),
                 qPrintable(control->objectName() + QStringLiteral(" in a client area of %1 x %2 pixels")
                                                        .arg(client->width())
                                                        .arg(client->height())));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void layoutInTwips_data();
    void layoutInTwips();
    void initialClientAreaLaysOutControls();
    void tinyAndMinimisedWindowsFollowTheClampedLayout();
    void menuTable_data();
    void menuTable();
    void menusInOrder();
    void windowShortcutsWinWhileEditorHasFocus();
    void windowShortcutsWinWhileStatusFieldHasFocus();
    void startsWithEditorFocusedAndStatusFields();
    void editorFontIsFixedPitchAndDrawsEveryPolishLetter();
    void fileDialogFiltersKeepWindowsMeaning();
    void realBoxTakesItsDefaultOnEnterAndItsSafeAnswerOnEscape_data();
    void realBoxTakesItsDefaultOnEnterAndItsSafeAnswerOnEscape();
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
    QVERIFY(showExposed(w));
    // 7365 x 5805 twips, to a pixel's rounding; the controls then stand as in
    // layoutInTwips' first row. A screen too small for that (Qt's minimal
    // platform, the Windows suites', has 240 x 320 pixels) gets a window that fits it.
    const QWidget *client = w.centralWidget();
    const double perX = 1440.0 / client->logicalDpiX(), perY = 1440.0 / client->logicalDpiY();
    const QSize screen = w.screen()->availableGeometry().size();
    if (screen.width() >= 800 && screen.height() >= 600)
        QVERIFY2(qAbs(client->width() * perX - 7365) <= perX && qAbs(client->height() * perY - 5805) <= perY,
                 qPrintable(QStringLiteral("%1 x %2 pixels").arg(client->width()).arg(client->height())));
    else
        QVERIFY(w.frameGeometry().width() <= screen.width() && w.frameGeometry().height() <= screen.height());
    expectLayoutFollowsClientArea(w);
}

void TestMainWindow::tinyAndMinimisedWindowsFollowTheClampedLayout()
{
    WindowFixture f;
    EditorWin &w = f.open();
    QVERIFY(showExposed(w));
    const QWidget *client = w.centralWidget();
    // Below the menu bar, a client area narrower than the line indicator and
    // lower than the status strip: the editor's height and the message
    // line's width clamp at zero.
    w.resize(60, 25);
    QTRY_COMPARE(client->width(), 60);
    QVERIFY(client->height() * 1440 < 300 * client->logicalDpiY());
    QVERIFY(client->width() * 1440 < 1000 * client->logicalDpiX());
    expectLayoutFollowsClientArea(w);
    QCOMPARE(w.txtEdit->height(), 0);
    QCOMPARE(w.Text1->width(), 0);

    // Larger than at the start, then back from minimised: the full layout.
    w.resize(600, 500);
    QTRY_COMPARE(client->width(), 600);
    const QSize full = client->size();
    w.showMinimized();
    QTRY_VERIFY(w.isMinimized());
    w.showNormal();
    QTRY_VERIFY(!w.isMinimized());
    QTRY_COMPARE(client->size(), full);
    expectLayoutFollowsClientArea(w);
    QCOMPARE(w.txtEdit->size(), QSize(full.width(), w.Text1->y()));
    QCOMPARE(w.Text2->x() + w.Text2->width(), full.width());
    QCOMPARE(w.Text1->y() + w.Text1->height(), full.height());
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
    QVERIFY(showActive(w));
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
    QVERIFY(showActive(w));
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

void TestMainWindow::editorFontIsFixedPitchAndDrawsEveryPolishLetter()
{
    WindowFixture f;
    const QFont font = f.open().txtEdit->font();
    const QFontInfo info(font);
    const QFontMetrics metrics(font);
    for (const QChar letter : QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"))
        QVERIFY2(metrics.inFont(letter), qPrintable(info.family() + QStringLiteral(" lacks ") + letter));
    QVERIFY2(info.fixedPitch(), qPrintable(info.family()));
    QCOMPARE(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'W'));
    qInfo("the editor's font: %s, %d pt", qPrintable(info.family()), info.pointSize());
}

void TestMainWindow::startsWithEditorFocusedAndStatusFields()
{
    WindowFixture f;
    EditorWin &w = f.open();
    QVERIFY(showActive(w));
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

void TestMainWindow::realBoxTakesItsDefaultOnEnterAndItsSafeAnswerOnEscape_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton"); // -1: the box's usual one
    QTest::addColumn<int>("onEnter");
    QTest::addColumn<int>("onEscape");
    const auto row = [](const char *name, Buttons b, int d, Button enter, Button escape) {
        QTest::newRow(name) << int(b) << d << int(enter) << int(escape);
    };
    row("OK", Buttons::Ok, -1, Button::Ok, Button::Ok);
    row("OK/Cancel", Buttons::OkCancel, -1, Button::Ok, Button::Cancel);
    row("OK/Cancel, Cancel first", Buttons::OkCancel, int(Button::Cancel), Button::Cancel, Button::Cancel);
    row("Yes/No", Buttons::YesNo, -1, Button::Yes, Button::No);
    row("Yes/No/Cancel", Buttons::YesNoCancel, -1, Button::Yes, Button::Cancel);
    row("Yes/No/Cancel, No first", Buttons::YesNoCancel, int(Button::No), Button::No, Button::Cancel);
}

void TestMainWindow::realBoxTakesItsDefaultOnEnterAndItsSafeAnswerOnEscape()
{
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, onEnter);
    QFETCH(int, onEscape);
    QtPlatform real;
    const std::optional<Button> given =
        defaultButton < 0 ? std::nullopt : std::optional(static_cast<Button>(defaultButton));
    for (const auto &[key, expected] :
         {std::pair{Qt::Key_Return, onEnter}, std::pair{Qt::Key_Escape, onEscape}}) {
        QTimer::singleShot(0, [key = key] {
            if (QWidget *box = QApplication::activeModalWidget())
                QTest::keyClick(box, key);
        });
        const Button answer =
            real.messageBox(nullptr, QStringLiteral("Pytanie?"), static_cast<Buttons>(buttons),
                            Icon::Exclamation, QStringLiteral("KESTO IDE"), given);
        QCOMPARE(int(answer), expected);
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
