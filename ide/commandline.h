#pragma once
// The program's command line, `kestoide [OPTION]... [FILE]`, apart from the
// window and the application object, so that it can be tested without them.
//
// Qt takes its own options (-style, -platform, -display, ...) out of the
// arguments it is given, and which ones it knows depends on the platform
// plugin, so an unknown option can only be told apart once QApplication
// exists. --help and --version must work without a display (over ssh): they
// are answered before that.

#include <QString>
#include <QStringList>

#include <optional>

namespace kesto::commandline {

// The arguments as the system gave them, program name left out.
QStringList argumentsOf(int argc, const char *const *argv);

// The text --help or --version print, when one of them stands before "--".
std::optional<QString> earlyAnswer(const QStringList &args);

// How many of `args` stand before "--". Qt sees only these: it knows no
// "--", and would take a file named "-style" after it for its own option.
qsizetype optionsEnd(const QStringList &args);

// What the program is asked to do: the options Qt left, then everything from
// "--" on.
struct Request {
    QString file;        // the file to open, as openFile takes it; empty for none
    QStringList ignored; // further files, as they were given
    QString error;       // a usage error for stderr: the program ends with status 2
};
Request parse(const QStringList &args, const QString &currentDir);

// A file named on the command line, absolute against `currentDir` and
// cleaned, links left as they are, with the system's separators.
QString absoluteFile(const QString &name, const QString &currentDir);

// What stderr says about the files after the first.
QString ignoredFilesText(const QStringList &ignored);

} // namespace kesto::commandline
