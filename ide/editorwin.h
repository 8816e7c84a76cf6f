#pragma once

#include "compilejob.h"
#include "disk/fileidentity.h"
#include "disk/recoverykeeper.h"
#include "documentstate.h"
#include "platform/platform.h"

#include <QMainWindow>
#include <QRect>
#include <QTimer>

#include <functional>
#include <optional>

class QAction;
class QLineEdit;
class QMenu;
class QUrl;

namespace kesto {

class SourceEditor;
struct ToolRequest;

// Where the three controls go for a client area of the given size, in twips.
struct ClientLayout {
    QRect txtEdit, Text1, Text2;
};
ClientLayout layoutForClientArea(int widthTwips, int heightTwips);

// The one window of the program: the editor, the two status fields, the menus
// and the document state, with every command as a slot.
//
// Controls, menus and state are public members, as the window's own fields
// are to every command: the tests arrange and observe the real window
// through them rather than through accessors that exist only for tests.
//
// The members live in one .cpp file a menu or a concern; each group below
// names its file. The data members stay in one list at the end, in the order
// they must be built and torn down in, each with the file that owns it.
class EditorWin : public QMainWindow {
    Q_OBJECT
public:
    // --- editorwin.cpp: the controls, the menus, the layout, the caption,
    // dropped files.
    explicit EditorWin(Platform &platform, QWidget *parent = nullptr);
    ~EditorWin() override;

    // The menu items, named as in the menu bar.
    struct Menus {
        QMenu *mnuPlik, *mnuEdit, *mnuKonfiguracja, *mnuPomoc;
        QAction *mnuNowy, *mnuOtworz, *mnuInf, *mnuSpace, *mnuZapisz, *mnuZapiszjako, *mnuSpace2, *mnuZakoncz;
        QAction *mnuWytnij, *mnuKopiuj, *mnuWklej, *mnuWszystko, *mnuUsun;
        QAction *mnuKompiluj, *mnuUruchom, *mnuSpace5, *mnuCOMPort, *mnuCOM1, *mnuCOM2, *mnuCOM3, *mnuCOM4;
        QAction *mnuInfo;
    };

signals:
    // The first file of a drop, delivered once the drop is over.
    void fileDropped(const QUrl &url);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Files dropped from a file manager, anywhere on the window.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createControls();
    void acceptFileDrops();
    void openDropped(const QList<QUrl> &urls);
    void openDroppedFile(const QUrl &url);
    void createActions();
    void layoutClient();
    // `wanted`, made smaller where the screen has less room for the window and its frame.
    QSize fittedToScreen(QSize wanted) const;
    // The caption for the current path and changed mark.
    void writeCaption();
    void setStatus(const QString &text);
    QString currentPath() const { return dlgPlik.FileName; }

    // --- documentcommands.cpp: the File menu, the close logic.
public slots:
    void mnuNowy();
    void mnuOtworz();
    void mnuInf();
    // Save and Save As tell whether the text was written, so that a command
    // that saves first goes on only when it was.
    bool mnuZapisz();
    bool mnuZapiszjako();
    void mnuZakoncz();

public:
    void NowyDoc();
    // The close logic: sets `cancel` to keep the window open.
    void queryClose(bool &cancel);
    // Opens `path` as Open opens a chosen file, unsaved-changes question
    // first: for a file named on the command line or dropped on the window.
    void openFile(const QString &path);
    // The same for a file named on the command line; one that does not
    // exist yet, in a folder that does, starts as an empty document of that
    // name, which the first Save writes.
    void openOrStartFile(const QString &path);

private:
    // Open of a chosen path, past the question and the dialog.
    bool loadDocument(const QString &path);
    // Save to `path`: writes the text and makes it the document's file.
    bool saveTo(const QString &path);
    bool isDocumentFile(const QString &path) const;
    // Makes `path` the document's file, unchanged since it was read or
    // written; call once the text is in place.
    void adoptFile(const QString &path, bool untitled);
    // The unsaved-changes question; true when the caller may go on.
    bool maybeSave();

    // --- editcommands.cpp: the Edit menu and the About box.
public slots:
    void mnuWytnij();
    void mnuKopiuj();
    void mnuWklej();
    void mnuWszystko();
    void mnuUsun();
    void mnuInfo();

    // --- toolchain.cpp: Compile and Run, and how their tools ended.
public slots:
    void mnuKompiluj();
    void mnuUruchom();

public:
    void Skompiluj();

private:
    // Starts a lab tool as `request` asks, `ended` to be told how it ended;
    // false, after the box that tells why (`missingText` when the file is not
    // there), when it did not start.
    bool startTool(ToolRequest request, const QString &missingText,
                   std::function<void(const ToolEnd &)> ended);
    void compileEnded(const QString &id, const ToolEnd &end);
    void runWhenNoBoxIsOpen();
    void runCompiled();
    // A Run waiting for its compile is called off; true when there was one.
    bool dropPendingRun();

    // --- startup.cpp: start-up, kestoide.ini, the port items.
public slots:
    void mnuCOM1();
    void mnuCOM2();
    void mnuCOM3();
    void mnuCOM4();

public:
    void saveset();
    // What runs once the window is shown: the text an interrupted run left
    // unsaved is offered back, then a file named on the command line (empty
    // for none) opens.
    void startSession(const QString &fileToOpen);

private:
    void startUp();
    // Writes kestoide.ini; true when it was written. saveset() reports it.
    bool writeSettings();
    void selectPort(int n);
    // Puts right what saves cut short by an earlier run left behind.
    void finishInterruptedSaves();

    // --- changetracking.cpp: the changed mark and the line indicator.
public:
    void showxy();

private:
    void txtEditChange();
    void txtEditKeyUp();

    // --- recovery.cpp: the copy of unsaved text that outlives a crash.
public:
    // Takes the recovery copy of the unsaved text now; recoveryTimer calls it.
    void writeRecoveryCopy();
    // The process is about to end past the close logic (told to by a signal,
    // or its display gone): the unsaved text's copy is written now, on this
    // thread, for the next start to offer; without unsaved text the copy
    // and its lock go, as when the program is closed.
    void keepUnsavedTextAtEnd();

signals:
    // The recovery copy's writer has news; emitted on the writer's thread.
    void recoveryNews();

private:
    void setUpRecovery();
    void scheduleRecoveryCopy();
    void dropRecoveryCopy(); // the unsaved text is saved or thrown away
    void endRecovery();      // the process ends: no copy may stay or come back
    bool offerRecovery();    // true when a text came back
    recovery::Copy recoveryCopyOfText(std::string storage) const;
    void takeRecoveryNews();
    void reportRecovery(const recovery::Outcome &outcome);
    void showRecoveryReport(const QString &text);

    // --- The data, in construction order.
public:
    SourceEditor *txtEdit = nullptr; // editorwin.cpp
    QLineEdit *Text1 = nullptr;      // message line (editorwin.cpp)
    QLineEdit *Text2 = nullptr;      // line indicator (kept by changetracking.cpp)
    FileDialog dlgPlik;              // documentcommands.cpp
    DocumentState doc;
    // The document's file as it was last read or written (none while
    // untitled): documentcommands.cpp.
    FileIdentity diskFile;
    Menus menu{}; // editorwin.cpp
    // The copy of unsaved text that outlives a crash (disk/recoverykeeper.h),
    // and the timer that takes it a little after a change: recovery.cpp.
    RecoveryKeeper recoveryKeeper;
    QTimer recoveryTimer;

private:
    Platform &m_platform;
    // What the status line has said of the recovery copies (recovery.cpp).
    struct RecoveryReport {
        bool failing = false;
        qint64 lastGoodMs = 0; // when the text of the copy on disk was taken; 0: there is none
        QString waiting;       // kept off the status line by a command's own report
    } m_recoveryReport;
    // A command has reported on the status line since the text last changed
    // (editorwin.cpp, recovery.cpp).
    bool m_commandReported = false;
    // Counts the changes of the text, so that a compile knows which text it
    // was for (changetracking.cpp, toolchain.cpp).
    quint64 m_textVersion = 0;
    // The latest compile, a Run waiting for it, and the latest Run (toolchain.cpp).
    std::optional<CompileJob> m_compile;
    bool m_runPending = false;
    QTimer m_runAfterBox; // looks again whether the box in the way has closed
    QString m_runId;
    quint64 m_toolStarts = 0;
    // The last save could not write the file (not cancelled): the status
    // line tells why (documentcommands.cpp).
    bool m_saveFailed = false;
};

} // namespace kesto
