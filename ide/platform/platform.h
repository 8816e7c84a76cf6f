#pragma once
// The seams between the window and the outside world: modal boxes, the file
// dialog, the clipboard, starting the lab's tools and ending the process.
// The window asks for all of these through Platform, so tests can script them.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace kesto {

enum class Button { Ok, Cancel, Yes, No };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Icon { None, Exclamation, Information };

// The common Open/Save dialog `dlgPlik`. FileName holds the current document
// path; a cancelled dialog leaves it unchanged.
struct FileDialog {
    enum Action { ShowOpen = 1, ShowSave = 2 };
    // The option bits of the Windows dialog.
    static constexpr int OverwritePrompt = 0x2; // the Save dialog asks before replacing a file
    static constexpr int HideReadOnly = 0x4;    // no effect: Qt's dialog has no read-only check box
    static constexpr int NoLongNames = 0x40000; // no effect: Qt's dialog always shows long names

    QString FileName;
    QString Filter;      // "Description|pattern|Description|pattern|"
    int FilterIndex = 0; // 1-based entry of Filter preselected in the dialog
    int Flags = 0;
    bool CancelError = false; // no effect: a cancelled dialog is a false return here
};

// How a started tool's window appears: the assembler comes up normally with
// the focus, the run tool minimised behind the editor.
enum class WindowState { NormalFocused, MinimizedNoFocus };

// How a tool the program started ended, as the helper that ran it told.
struct ToolEnd {
    // Unknown: the helper went without telling (killed, its window closed)
    // or never came.
    enum Kind { Exited, Interrupted, NotStarted, Unknown } kind = Unknown;
    qint64 code = 0;    // Exited: the tool's exit code
    QString detail;     // Interrupted: by what; NotStarted: why
    QString printed;    // what the tool printed, when it was asked for
    quint64 window = 0; // the helper's window (showToolWindow), 0 when not known
};

// Where a helper is to tell how its tool ended (runner/report.h): a name for
// its command line, and the id of this start. An empty name: the program
// cannot listen, and the tool's end will be unknown.
struct ToolTicket {
    QString server;
    QString id;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Shows a modal box and returns the button chosen. Enter answers
    // `defaultButton` when given, else the box's usual default (OK or Yes).
    // `informativeText`, when given, stands below the text in a smaller font.
    virtual Button messageBox(QWidget *parent, const QString &text, Buttons buttons, Icon icon,
                              const QString &title, std::optional<Button> defaultButton = std::nullopt,
                              const QString &informativeText = {}) = 0;

    // Shows the Open or Save dialog. On confirmation stores the chosen full
    // path in dlg.FileName and returns true; on cancel returns false and leaves
    // dlg untouched.
    virtual bool showFileDialog(QWidget *parent, FileDialog &dlg, FileDialog::Action action) = 0;

    virtual void clipboardClear() = 0;
    virtual void clipboardSetText(const QString &text) = 0;
    virtual QString clipboardText() = 0; // "" when the clipboard holds no text
    // The text of the X primary selection, which a middle click pastes;
    // nullopt where the system has no such selection (Windows).
    virtual std::optional<QString> primarySelectionText() = 0;

    // Starts `program` with `arguments` as a detached process, each argument
    // passed as it is (no shell). Returns false when it could not be started.
    virtual bool startProcess(const QString &program, const QStringList &arguments, WindowState state) = 0;

    // Prepares to learn how a tool about to be started ends: `ended` is
    // called once, later, from the event loop, with what its helper told
    // (or Unknown when the helper went without a word, or never came).
    virtual ToolTicket watchTool(std::function<void(const ToolEnd &)> ended) = 0;
    // The start of the tool `ticket` was for failed: no end will come.
    virtual void unwatchTool(const ToolTicket &ticket) = 0;
    // Shows a tool's window (ToolEnd::window), which started minimised,
    // without taking the focus from the editor.
    virtual void showToolWindow(quint64 window) = 0;

    // Ends the process at once; nothing of the program runs afterwards.
    // (The scripted test platform records the call and returns.)
    virtual void endProcess() = 0;

    // Directory of the program's executable, in the platform's own notation.
    virtual QString programDir() = 0;
};

} // namespace kesto
