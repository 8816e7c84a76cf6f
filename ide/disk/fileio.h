#pragma once
// The small file operations that the save, its record and the recovery copy
// all stand on, each written once, the Unix and the Windows way side by side.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

class QFile;
class QFileDevice;

namespace kesto::fileio {

// The path as the system's own calls take it.
QByteArray native(const QString &path);

#ifdef Q_OS_WIN
// The path as the wide-character Win32 calls take it: absolute, with
// backslashes, in the \\?\ form that lifts the limit of 259 characters (as
// Qt's own file calls do).
std::wstring longPath(const QString &path);
#endif

// This computer's name, as lock files and save records carry it.
QByteArray thisHost();

// The user's part of a name this program makes beside a user's file (a
// temporary or a backup): `name` cut to at most 200 bytes (UTF-16 units on
// Windows) at a character boundary, so that with the program's own part the
// whole stays within the 255 a file system allows.
QString nameStem(const QString &name);

// Random letters and digits, for names beside the user's files that must not clash.
inline constexpr qsizetype uniqueSuffixLength = 8;
QString uniqueSuffix();
// A fresh name in `folder` for a backup of the file `name`: one that no
// clean-up of stray files ever takes for its own, so that it stays until
// whoever made it, or the user told of it, removes it.
QString backupName(const QString &folder, const QString &name);
// Sixteen hex digits from the system's random source: a running instance's id.
QString randomId();

#ifdef Q_OS_UNIX
// Closes its descriptor when it goes.
struct Descriptor {
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor();
    int fd;
};

// Writes all of `bytes`, going on after a signal; gives up as soon as
// `abandoned` (when given) turns true.
bool writeAll(int fd, std::string_view bytes, const std::atomic<bool> *abandoned = nullptr);
#endif

// The steps that make a write durable: the content of a file synced, the
// names in a folder synced, a file renamed over another, a file replaced.
// Every durable write takes them through the functions below, and only
// there, so that their order can be watched.
struct DurableStep {
    enum Kind { SyncFile, SyncFolder, Rename, Replace };
    Kind kind = SyncFile;
    // SyncFile: the file (empty while it has no name); SyncFolder: the
    // folder; Rename, Replace: the file that takes another's name.
    QString path;
    QString to;     // Rename, Replace: the name it takes
    QString backup; // Replace: where the file that had that name goes
    // Windows: the rename asks to reach the disk before it returns.
    bool writeThrough = false;
};
// For the tests only: `watch` is shown each step before it is taken, on the
// thread that takes it; when it returns false, the step fails as if the
// system had refused it (an I/O error). An empty one watches nothing.
using StepWatch = std::function<bool(const DurableStep &)>;
void watchDurableSteps(StepWatch watch);

// Opens an existing regular file for reading and writing, never blocking on
// a FIFO or a device put in its place.
bool openExisting(QFile &file, const QString &path);
// Writes `bytes` to the file at its current position; false on any error.
bool writeOut(QFileDevice &file, std::string_view bytes);
// Starts sending what was just written to the disk, so that the sync at the
// end has little left to wait for (Linux; elsewhere nothing).
void startWriteback(int fd, qint64 offset, qint64 size);
// Makes the file's content and size durable. `name` tells a watcher which
// file it is where the file keeps no name of its own (openExisting() opens it
// by descriptor).
bool syncFile(QFileDevice &file, const QString &name = {});
// Makes the names in a folder durable. A file system that cannot sync a
// folder (EINVAL on some network and FUSE mounts) counts as done.
bool syncFolder(const QString &folder);
// Gives the file `from` the name `to`, in place of any file that had it,
// durable once it returns on Windows (on Unix, once its folder is synced).
bool renameFile(const QString &from, const QString &to);
#ifdef Q_OS_UNIX
// The same for a file open on `fd` and a folder open on `folderFd`, whose
// name is `name` or `folder`: that name only tells a watcher which it is.
bool syncDescriptor(int fd, const QString &name);
bool syncFolderDescriptor(int folderFd, const QString &folder);
// Renames `from` to `to`, both in the folder open on `folderFd`.
bool renameIn(int folderFd, const QString &folder, const QByteArray &from, const QByteArray &to);
#endif
#ifdef Q_OS_WIN
// MoveFileExW with these flags.
bool moveFile(const QString &from, const QString &to, unsigned long flags);
// ReplaceFileW: `replacement` takes the name of `target`, with its
// attributes, ACL and streams; the old file goes to `backup` first.
bool replaceFile(const QString &target, const QString &replacement, const QString &backup);
// Makes the content of the file at `path` durable (ReplaceFileW has no
// write-through of its own).
bool syncPath(const QString &path);
#endif
// An exclusive lock on the open file, without waiting for it.
bool lockFile(QFile &file);

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
