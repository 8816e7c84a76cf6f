#pragma once
// What the assembler printed, read for the line of the source it names, so
// that a failed compile takes the student to the error.

#include <QString>

#include <optional>

namespace kesto {

struct SourceLineMessage {
    qsizetype line = 0; // 1-based
    QString text;       // the tool's line, fit for one line of the status bar
};

// The first line of `printed` that names a line of the source `sourcePath`
// (1 to `lineCount`): "NAME(N)", "NAME:N" (NAME the file's name, or its
// path), or "line N", "linia N", "linii N", "wiersz N", "wierszu N", in any
// case.
std::optional<SourceLineMessage> findSourceLine(const QString &printed, const QString &sourcePath,
                                                qsizetype lineCount);

// `text` without control characters and terminal escapes (a tool may echo
// the source's CR), its blanks at the ends trimmed.
QString printableLine(const QString &text);

} // namespace kesto
