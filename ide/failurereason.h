#pragma once
// Why a file could not be opened or saved, in the words the status line
// gives after the box that said so ("Nie otworzono: ...", "Nie zapisano:
// ..."): the boxes keep the lab's fixed texts, and the student still learns
// whether the disk is full or the file is read-only.

#include <QString>

namespace kesto {

// `error` is the system's number for the step that failed (errno, or
// GetLastError on Windows), 0 when none was kept; what the path names now
// tells the rest.
QString whyNotOpened(const QString &path, int error);
QString whyNotSaved(const QString &path, int error);

} // namespace kesto
