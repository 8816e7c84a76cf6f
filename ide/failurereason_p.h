#pragma once
// What each system's half of failurereason.cpp (failurereason_unix.cpp,
// failurereason_win.cpp) knows in its own terms.

#include <QString>

class QFileInfo;

namespace kesto::failure {

// The reason a system's number gives by itself (a full disk); empty for
// one that the file's state explains better.
QString fromError(int error);
// A name this system's file systems do not take; empty when it would.
QString fromName(const QFileInfo &info);
// Why the file `info` (at `path`), or a new one in its folder, may not be
// written: a read-only medium or file; empty when nothing tells.
QString fromWriteState(const QString &path, const QFileInfo &info);
// The number means that the user lacks the right.
bool deniesAccess(int error);

} // namespace kesto::failure
