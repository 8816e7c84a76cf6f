#pragma once
// Test files for the benchmarks: assembly-like lines with CR LF and Polish
// letters in code page 852, as the lab's DOS editors wrote them.

#include <QByteArray>

namespace benchfiles {

// About `bytes` bytes of source lines, each ending in CR LF.
QByteArray source(qint64 bytes);
// One line of `bytes` bytes with no line break.
QByteArray singleLine(qint64 bytes);
// About `bytes` bytes of comment lines a third of whose bytes are the 18
// Polish letters of code page 852, ending in CR LF.
QByteArray polishHeavy(qint64 bytes);

} // namespace benchfiles
