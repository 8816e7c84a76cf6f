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

// The system's number of the last failure, in the same terms, and its reset.
int lastSystemError();
void clearSystemError();

// The system's numbers for what the program finds out itself, so that each
// system gives them in its own words.
namespace systemError {
extern const int badName;     // an empty name, or one holding a NUL
extern const int isDirectory; // a folder where a file was meant
extern const int tooLarge;
extern const int readFailed;
extern const int nameTooLong; // longer than the file system takes
} // namespace systemError

} // namespace kesto
