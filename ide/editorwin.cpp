#include "editorwin.h"

#include "platform/sourceeditor.h"

#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <array>

// The icon lives in this static library's resources, which need an explicit
// start, from outside any namespace.
static void initResources() { Q_INIT_RESOURCE(kestoide); }

namespace kesto {

namespace {

// Initial client area of the window, in twips.
constexpr int initialClientWidth = 7365;
constexpr int initialClientHeight = 5805;
// Height of the status strip and width of the line indicator, in twips.
constexpr int statusHeight = 300;
constexpr int indicatorWidth = 1000;

// "Fixedsys" where the system has it; otherwise the first fixed-pitch font of
// about its size that draws every Polish letter.
QFont pickEditorFont()
{
    static const QString polishLetters = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
    const std::array candidates = {"Fixedsys",       "DejaVu Sans Mono", "Liberation Mono",
                                   "Noto Sans Mono", "Consolas",         "Courier New"};
    for (const char *family : candidates) {
        QFont font(QString::fromLatin1(family), 9, QFont::Normal);
        font.setStyleHint(QFont::TypeWriter);
        const QFontInfo info(font);
        if (info.family().compare(QString::fromLatin1(family), Qt::CaseInsensitive) != 0 ||
            !info.fixedPitch())
            continue;
        const QFontMetrics metrics(font);
        if (std::all_of(polishLetters.begin(), polishLetters.end(),
                        [&](QChar c) { return metrics.inFont(c); }))
            return font;
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

int toPixels(int twips, double dpi) { return qRound(twips * dpi / 1440.0); }

// The window manager's frame, known only once the window is shown; until
// then, what Qt's style takes a title bar and a frame to be.
QMargins expectedFrame(const QWidget &w)
{
    const QMargins known = w.windowHandle() ? w.windowHandle()->frameMargins() : QMargins();
    if (!known.isNull())
        return known;
    const int border = w.style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &w);
    const int title = w.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &w);
    return {border, title + border, border, border};
}

} // namespace

QSize EditorWin::fittedToScreen(QSize wanted) const
{
    // On a small screen, or with large scaling, the window's first size
    // would put the status line below the screen's edge.
    const QScreen *s = screen();
    if (!s)
        return wanted;
    const QSize room = s->availableGeometry().size().shrunkBy(expectedFrame(*this));
    return wanted.boundedTo(room.expandedTo(QSize(1, 1)));
}

ClientLayout layoutForClientArea(int W, int H)
{
    // The editor fills the client area above a status strip; the message line
    // takes the strip but for the last 1000 twips, which show the line indicator.
    // A window too small for that gets zero sizes rather than negative ones.
    ClientLayout l;
    l.txtEdit = QRect(0, 0, std::max(W, 0), std::max(H - statusHeight, 0));
    l.Text1 = QRect(0, H - statusHeight, std::max(W - indicatorWidth, 0), statusHeight);
    l.Text2 = QRect(W - indicatorWidth, H - statusHeight, indicatorWidth, statusHeight);
    return l;
}

EditorWin::EditorWin(Platform &platform, QWidget *parent) : QMainWindow(parent), m_platform(platform)
{
    initResources();
    setObjectName(QStringLiteral("EditorWin"));
    setWindowIcon(QIcon(QStringLiteral(":/kestoide.png")));
    setWindowTitle(QStringLiteral("KESTO IDE"));
    createControls();
    createActions();
    acceptFileDrops();
    setUpRecovery();
    m_runAfterBox.setInterval(100);
    m_runAfterBox.setSingleShot(true);
    connect(&m_runAfterBox, &QTimer::timeout, this, [this] {
        if (m_runPending && m_compile && !m_compile->running) {
            m_runPending = false;
            runWhenNoBoxIsOpen();
        }
    });
    resize(
        fittedToScreen(QSize(toPixels(initialClientWidth, logicalDpiX()),
                             toPixels(initialClientHeight, logicalDpiY()) + menuBar()->sizeHint().height())));
    finishInterruptedSaves();
    startUp();
}

EditorWin::~EditorWin() = default;

void EditorWin::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->installEventFilter(this);

    txtEdit = new SourceEditor(client);
    txtEdit->setObjectName(QStringLiteral("txtEdit"));
    txtEdit->setAccessibleName(QStringLiteral("Tekst programu"));
    txtEdit->setFont(pickEditorFont());

    Text1 = new QLineEdit(QStringLiteral("Uruchomiono"), client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Komunikat"));
    Text1->setReadOnly(true);
    Text1->setAlignment(Qt::AlignLeft);

    Text2 = new QLineEdit(QStringLiteral("0,0"), client);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setAccessibleName(QStringLiteral("Numer linii"));
    Text2->setReadOnly(true);
    Text2->setAlignment(Qt::AlignLeft);

    setTabOrder(txtEdit, Text1);
    setTabOrder(Text1, Text2);
    txtEdit->setFocus();

    connect(txtEdit, &SourceEditor::changed, this, &EditorWin::txtEditChange);
    connect(txtEdit, &SourceEditor::keyReleased, this, &EditorWin::txtEditKeyUp);
    connect(txtEdit, &SourceEditor::cutRequested, this, &EditorWin::mnuWytnij);
    connect(txtEdit, &SourceEditor::copyRequested, this, &EditorWin::mnuKopiuj);
    connect(txtEdit, &SourceEditor::pasteRequested, this, &EditorWin::mnuWklej);
    connect(txtEdit, &SourceEditor::deleteRequested, this, &EditorWin::mnuUsun);
    connect(txtEdit, &SourceEditor::selectAllRequested, this, &EditorWin::mnuWszystko);
    connect(txtEdit, &SourceEditor::selectionPasteRequested, this, [this](qsizetype position) {
        // As in X programs: the primary selection goes in where the middle
        // button was clicked, exactly as Paste inserts the clipboard.
        if (const std::optional<QString> text = m_platform.primarySelectionText()) {
            txtEdit->setSelStart(position);
            txtEdit->setSelText(*text);
        }
    });
    // The status fields would claim Ctrl+A, Ctrl+C and other keys for
    // themselves; the window's shortcuts run wherever the focus is.
    Text1->installEventFilter(this);
    Text2->installEventFilter(this);
}

void EditorWin::createActions()
{
    QList<QKeySequence> shortcuts;
    auto action = [](QMenu *m, const char *name, const QString &caption) {
        QAction *a = m->addAction(caption);
        a->setObjectName(QString::fromUtf8(name));
        return a;
    };
    auto item = [&](QMenu *m, const char *name, const QString &caption, const QKeySequence &key, auto slot) {
        QAction *a = action(m, name, caption);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            shortcuts << key;
        }
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    auto separator = [](QMenu *m, const char *name) {
        QAction *a = m->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto menuOf = [this](const char *name, const QString &caption) {
        QMenu *m = menuBar()->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        return m;
    };
    const auto ctrl = [](Qt::Key k) { return QKeySequence(Qt::CTRL | k); };
    Menus &u = menu;

    u.mnuPlik = menuOf("mnuPlik", QStringLiteral("&Plik"));
    u.mnuNowy = item(u.mnuPlik, "mnuNowy", QStringLiteral("&Nowy"), ctrl(Qt::Key_N), &EditorWin::mnuNowy);
    u.mnuOtworz =
        item(u.mnuPlik, "mnuOtworz", QStringLiteral("&Otwórz"), ctrl(Qt::Key_O), &EditorWin::mnuOtworz);
    u.mnuInf =
        item(u.mnuPlik, "mnuInf", QStringLiteral("Info"), QKeySequence(Qt::Key_F4), &EditorWin::mnuInf);
    u.mnuSpace = separator(u.mnuPlik, "mnuSpace");
    u.mnuZapisz =
        item(u.mnuPlik, "mnuZapisz", QStringLiteral("&Zapisz"), ctrl(Qt::Key_S), &EditorWin::mnuZapisz);
    // Ctrl+Z is Save As here: the program has no undo command.
    u.mnuZapiszjako = item(u.mnuPlik, "mnuZapiszjako", QStringLiteral("Zapisz jako..."), ctrl(Qt::Key_Z),
                           &EditorWin::mnuZapiszjako);
    u.mnuSpace2 = separator(u.mnuPlik, "mnuSpace2");
    u.mnuZakoncz = item(u.mnuPlik, "mnuZakoncz", QStringLiteral("Za&kończ"), {}, &EditorWin::mnuZakoncz);

    u.mnuEdit = menuOf("mnuEdit", QStringLiteral("&Edycja"));
    u.mnuWytnij =
        item(u.mnuEdit, "mnuWytnij", QStringLiteral("&Wytnij"), ctrl(Qt::Key_X), &EditorWin::mnuWytnij);
    u.mnuKopiuj =
        item(u.mnuEdit, "mnuKopiuj", QStringLiteral("&Kopiuj"), ctrl(Qt::Key_C), &EditorWin::mnuKopiuj);
    u.mnuWklej = item(u.mnuEdit, "mnuWklej", QStringLiteral("Wkl&ej"), ctrl(Qt::Key_V), &EditorWin::mnuWklej);
    u.mnuWszystko = item(u.mnuEdit, "mnuWszystko", QStringLiteral("Zaznacz wszystko"), ctrl(Qt::Key_A),
                         &EditorWin::mnuWszystko);
    u.mnuUsun = item(u.mnuEdit, "mnuUsuń", QStringLiteral("Usuń"), {}, &EditorWin::mnuUsun);

    u.mnuKonfiguracja = menuOf("mnuKonfiguracja", QStringLiteral("&Kompilator"));
    u.mnuKompiluj = item(u.mnuKonfiguracja, "mnuKompiluj", QStringLiteral("Ko&mpiluj"), ctrl(Qt::Key_M),
                         &EditorWin::mnuKompiluj);
    u.mnuUruchom = item(u.mnuKonfiguracja, "mnuUruchom", QStringLiteral("U&ruchom"), ctrl(Qt::Key_R),
                        &EditorWin::mnuUruchom);
    u.mnuSpace5 = separator(u.mnuKonfiguracja, "mnuSpace5");
    u.mnuCOMPort = action(u.mnuKonfiguracja, "mnuCOMPort", QStringLiteral("Port COM:"));
    u.mnuCOMPort->setEnabled(false);
    u.mnuCOM1 = item(u.mnuKonfiguracja, "mnuCOM1", QStringLiteral("COM1"), {}, &EditorWin::mnuCOM1);
    u.mnuCOM2 = item(u.mnuKonfiguracja, "mnuCOM2", QStringLiteral("COM2"), {}, &EditorWin::mnuCOM2);
    u.mnuCOM3 = item(u.mnuKonfiguracja, "mnuCOM3", QStringLiteral("COM3"), {}, &EditorWin::mnuCOM3);
    u.mnuCOM4 = item(u.mnuKonfiguracja, "mnuCOM4", QStringLiteral("COM4"), {}, &EditorWin::mnuCOM4);
    for (QAction *port : {u.mnuCOM1, u.mnuCOM2, u.mnuCOM3, u.mnuCOM4})
        port->setCheckable(true);

    u.mnuPomoc = menuOf("mnuPomoc", QStringLiteral("&Pomoc"));
    u.mnuInfo = item(u.mnuPomoc, "mnuInfo", QStringLiteral("KESTO IDE - Informacje"),
                     QKeySequence(Qt::Key_F1), &EditorWin::mnuInfo);

    txtEdit->setWindowShortcuts(shortcuts);
}

bool EditorWin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        layoutClient();
    if ((watched == Text1 || watched == Text2) && event->type() == QEvent::ShortcutOverride) {
        event->ignore();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void EditorWin::layoutClient()
{
    const QWidget *client = centralWidget();
    const double dpiX = client->logicalDpiX();
    const double dpiY = client->logicalDpiY();
    const auto twipsX = [&](int px) { return qRound(px * 1440.0 / dpiX); };
    const auto twipsY = [&](int px) { return qRound(px * 1440.0 / dpiY); };
    const auto pixels = [&](const QRect &t) {
        return QRect(toPixels(t.x(), dpiX), toPixels(t.y(), dpiY), toPixels(t.width(), dpiX),
                     toPixels(t.height(), dpiY));
    };
    const ClientLayout l = layoutForClientArea(twipsX(client->width()), twipsY(client->height()));
    txtEdit->setGeometry(pixels(l.txtEdit));
    Text1->setGeometry(pixels(l.Text1));
    Text2->setGeometry(pixels(l.Text2));
}

void EditorWin::setStatus(const QString &text)
{
    m_commandReported = true;
    Text1->setText(text);
    // A long message shows its beginning, not its end; the whole of it (a
    // long Info summary, say) is its tooltip and what a screen reader reads.
    Text1->setCursorPosition(0);
    Text1->setToolTip(text);
    Text1->setAccessibleDescription(text);
}

void EditorWin::writeCaption()
{
    // The one caption rule: the document's path, and " *" once its text has
    // changed since it was last opened, saved or made.
    setWindowTitle(QStringLiteral("KESTO IDE [") + currentPath() + u']' +
                   (doc.docChanged ? QStringLiteral(" *") : QString()));
}

void EditorWin::closeEvent(QCloseEvent *event)
{
    bool cancel = false;
    queryClose(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

// --- files dropped on the window ------------------------------------------------

namespace {

// The file stays where it is: a drop taken as a move would have the file
// manager delete it once the drop is done.
bool takeAsCopy(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls() || !(event->possibleActions() & Qt::CopyAction))
        return false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace

void EditorWin::acceptFileDrops()
{
    setAcceptDrops(true);
    connect(txtEdit, &SourceEditor::urlsDropped, this, &EditorWin::openDropped);
    // Only once the drop is over: a question asked inside it would hold the
    // file manager until it is answered.
    connect(this, &EditorWin::fileDropped, this, &EditorWin::openDroppedFile, Qt::QueuedConnection);
}

void EditorWin::dragEnterEvent(QDragEnterEvent *event)
{
    if (!takeAsCopy(event))
        QMainWindow::dragEnterEvent(event);
}

void EditorWin::dragMoveEvent(QDragMoveEvent *event)
{
    if (!takeAsCopy(event))
        QMainWindow::dragMoveEvent(event);
}

void EditorWin::dropEvent(QDropEvent *event)
{
    if (takeAsCopy(event))
        openDropped(event->mimeData()->urls());
    else
        QMainWindow::dropEvent(event);
}

void EditorWin::openDropped(const QList<QUrl> &urls)
{
    if (!urls.isEmpty())
        emit fileDropped(urls.first());
}

void EditorWin::openDroppedFile(const QUrl &url)
{
    if (url.isLocalFile())
        openFile(QDir::toNativeSeparators(url.toLocalFile()));
    else // no question first: it cannot replace the text anyway
        m_platform.messageBox(this, QStringLiteral("Nie można otworzyć pliku: ") + url.toDisplayString(),
                              Buttons::Ok, Icon::None, appTitle);
}

} // namespace kesto
