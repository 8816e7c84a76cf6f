#pragma once
// Test stand-in for the modal and outside parts of the platform: message
// boxes and file dialogs are answered from queues the test fills, and every
// box, dialog, process start and process end is recorded.

#include "platform/platform.h"
#include "platform/qtplatform.h"

#include <QDir>
#include <QList>
#include <QQueue>

#include <functional>

struct ShownBox {
    QString text;
    kesto::Buttons buttons;
    kesto::Icon icon;
    QString title;
    std::optional<kesto::Button> defaultButton; // as the caller asked; none for the usual one
    QString informativeText;
};

struct ShownDialog {
    kesto::FileDialog::Action action;
    kesto::FileDialog settings; // the dialog's properties as they were when shown
};

// A start whose end the program waits to hear of.
struct WatchedTool {
    kesto::ToolTicket ticket;
    std::function<void(const kesto::ToolEnd &)> ended;
    bool over = false; // told, or its start failed
};

struct StartedProcess {
    QString program;
    QStringList arguments;
    kesto::WindowState state;
};

class ScriptedPlatform : public kesto::Platform {
public:
    // Answers for the next message boxes; a box without a queued answer is
    // answered with its default (OK, or Cancel for questions) and counted as unexpected.
    void answer(kesto::Button b) { answers.enqueue(b); }
    // Answers for the next file dialogs.
    void chooseFile(const QString &path) { dialogAnswers.enqueue(path); }
    void cancelDialog() { dialogAnswers.enqueue(QString()); }

    kesto::Button messageBox(QWidget *, const QString &text, kesto::Buttons buttons, kesto::Icon icon,
                             const QString &title, std::optional<kesto::Button> defaultButton = std::nullopt,
                             const QString &informativeText = {}) override;
    bool showFileDialog(QWidget *, kesto::FileDialog &dlg, kesto::FileDialog::Action action) override;
    void clipboardClear() override;
    void clipboardSetText(const QString &text) override;
    QString clipboardText() override;
    std::optional<QString> primarySelectionText() override { return primarySelection; }
    bool startProcess(const QString &program, const QStringList &arguments,
                      kesto::WindowState state) override;
    // With startForReal the real platform listens, and the real helpers tell.
    kesto::ToolTicket watchTool(std::function<void(const kesto::ToolEnd &)> ended) override;
    void unwatchTool(const kesto::ToolTicket &ticket) override;
    // Tells the program that the tool of the `n`th watched start (from 0)
    // ended so, as its helper would.
    void endTool(qsizetype n, const kesto::ToolEnd &end);
    void showToolWindow(quint64 window) override { shownToolWindows.append(window); }
    void endProcess() override { ++processEnded; }
    QString programDir() override { return appDir; }

    QQueue<kesto::Button> answers;
    QQueue<QString> dialogAnswers;
    QList<ShownBox> boxes;
    QList<ShownDialog> dialogs;
    QList<StartedProcess> started;
    QList<WatchedTool> watched;
    QList<quint64> shownToolWindows;
    int unexpectedBoxes = 0;
    int unexpectedDialogs = 0;
    int processEnded = 0;

    // The clipboard: nullopt-like flag for "holds no text" (e.g. only an image).
    bool clipboardHasText = false;
    QString clipboard;
    int clipboardClears = 0;
    // The X primary selection; none by default, as on Windows.
    std::optional<QString> primarySelection;

    // Process start: by default only recorded; with startForReal the real
    // platform starts the program; with failStarts every start fails.
    bool startForReal = false;
    bool failStarts = false;
    kesto::QtPlatform real;
    QString appDir = QDir::toNativeSeparators(QDir::tempPath());
};
