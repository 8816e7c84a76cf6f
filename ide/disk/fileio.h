#pragma once
// The small file operations that the save, its record and the recovery copy
// all stand on, each written once. What only one system has is declared in
// fileio_unix.h and fileio_win.h; the steps that make a write durable are in
// durablewrite.h.

#include <QByteArray>
#include <QString>

#include <string_view>

class QFile;
class QFileDevice;

namespace kesto::fileio {

// The path as the system's own calls take it.
QByteArray native(const QString &path);

// This computer's name, as lock files and save records carry it.
QByteArray thisHost();

// The user's part of a name this program makes beside a user's file (a
// temporary or a backup): `name` cut to at most 200 bytes (UTF-16 units on
// Windows) at a character boundary, so that with the program's own part the
// whole stays within the 255 a file system allows.
QString nameStem(const QString &name);
// How much of that limit `piece` of a name takes on this system.
qsizetype nameUnits(const QString &piece);

// Random letters and digits, for names beside the user's files that must not clash.
inline constexpr qsizetype uniqueSuffixLength = 8;
QString uniqueSuffix();
// A fresh name in `folder` for a backup of the file `name`: one that no
// clean-up of stray files ever takes for its own, so that it stays until
// whoever made it, or the user told of it, removes it.
QString backupName(const QString &folder, const QString &name);
// Sixteen hex digits from the system's random source: a running instance's id.
QString randomId();

// Opens an existing regular file for reading and writing, never blocking on
// a FIFO or a device put in its place.
bool openExisting(QFile &file, const QString &path);
// Writes `bytes` to the file at its current position; false on any error.
bool writeOut(QFileDevice &file, std::string_view bytes);
// Starts sending what was just written to the disk, so that the sync at the
// end has little left to wait for (Linux; elsewhere nothing).
void startWriteback(int fd, qint64 offset, qint64 size);
// An exclusive lock on the open file, without waiting for it.
bool lockFile(QFile &file);
// The locked file still has the name it was opened by: another instance
// may have removed it before letting go of its lock.
bool stillNamed(const QFile &file);
// Sets the modification time of the lock file open on `fd` to now, to show
// other hosts that its instance lives (Unix; a Windows lock has no descriptor).
void touchLock(int fd);

// A user who is not root loses the set-user-ID and set-group-ID bits of a
// file on writing it; the owner may set them again. Takes the mode of the
// open file when made; restore() puts it back if it changed.
class KeptMode {
public:
    explicit KeptMode(const QFile &file);
    void restore() const;

private:
    int m_fd = -1;
    unsigned m_mode = 0;
};

} // namespace kesto::fileio
