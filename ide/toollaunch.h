#pragma once
// How Compile and Run start one of the lab's tools. The tool file is checked
// first; the tool then runs through the program's helper kestoide-run
// (runner/runner.h), which shows how it ended and waits for Enter: on Linux
// in a terminal window of its own (xterm), through Wine when the tool is a
// Windows program, on Windows in a console of its own. Only decided here, so
// that it can be tested without starting anything: the platform seam starts
// what it is given.

#include "platform/platform.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kesto {

// What Compile or Run asks for.
struct ToolRequest {
    QString tool; // its file name in the program's folder
    QStringList arguments;
    QList<qsizetype> pathArguments; // which of `arguments` name files: Wine gets them as Windows paths
    QString title;                  // of the tool's window
    // NormalFocused (Compile): the window comes to the front and waits for
    // Enter whatever the end; MinimizedNoFocus (Run): it starts minimised
    // and waits only when the tool failed.
    WindowState state = WindowState::NormalFocused;
    // Where the helper tells how the tool ended; sendOutput: with what it printed.
    ToolTicket report;
    bool sendOutput = false;
};

// What this system offers for starting tools; findToolHost() looks it up.
struct ToolHost {
    QString terminal;    // xterm; empty when there is none
    QString wine;        // empty when Wine is not installed
    bool wine32 = false; // Wine can run 32-bit programs too (Debian: wine32:i386)
    // A locale whose Windows code page is 1250, in which Wine hands an ANSI
    // program Polish letters; empty when the system has none generated.
    QString wineLocale;
};
ToolHost findToolHost();

// What a tool file is, as far as starting it goes.
enum class ToolFile { Missing, NotExecutable, Native, Windows64, Windows32, Dos };
ToolFile inspectToolFile(const QString &path);

struct ToolLaunch {
    enum Outcome { Start, Missing, CannotStart } outcome = Missing;
    QString toolPath;
    // For Start: the program and its arguments, as the platform starts them.
    QString program;
    QStringList arguments;
    // For CannotStart: why, as the box says it.
    QString reason;
};
ToolLaunch planToolLaunch(const QString &appDir, const ToolRequest &request, const ToolHost &host);

} // namespace kesto
