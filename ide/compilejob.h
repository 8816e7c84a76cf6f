#pragma once
// The latest compile, as Run needs to know it: which text it was for, what
// its hex file was before, and how it ended.

#include "disk/fileidentity.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QString>

namespace kesto {

// A hex file as it was before the assembler started. Its identity tells a
// rewrite apart almost always; where it cannot (a rewrite of the same size
// within one tick of the clock: FAT keeps 2 seconds), the bytes do.
struct HexSnapshot {
    FileIdentity identity;
    QByteArray bytes;
    bool whole = false; // `bytes` hold the whole file
};
HexSnapshot takeHexSnapshot(const QString &path);
// The file at `path` is there and is not what `before` saw.
bool hexRewritten(const HexSnapshot &before, const QString &path);

struct CompileJob {
    QString id; // of the helper's report
    QString source, hexFile;
    HexSnapshot hexBefore;
    quint64 textVersion = 0;            // the text the compile was for
    qsizetype caret = 0, selection = 0; // where the student was when it started
    bool running = true;
    ToolEnd end;
    bool hexWritten = false;
};

} // namespace kesto
