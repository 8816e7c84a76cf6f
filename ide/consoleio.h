#pragma once
// What the program reads and writes on the command line before its window
// exists: the arguments, and the texts of --help, --version and usage errors.
//
// On Windows the program is a GUI program, which starts without a console:
// its texts go into the console it was started from (or into the file or
// pipe its output was redirected to), and its arguments are read from the
// UTF-16 command line, so that a name outside the ANSI code page arrives whole.

#include <QString>
#include <QStringList>

namespace kesto::consoleio {

// The arguments as the system gave them, program name left out; `argv` must
// be main()'s own.
QStringList systemArguments(int argc, char **argv);

// Writes `text` ("\n" ends a line) to the standard output or error; false
// when it did not get out (nowhere to write, or a full disk behind a redirection).
enum class Stream { Out, Err };
bool print(Stream stream, const QString &text);

} // namespace kesto::consoleio
