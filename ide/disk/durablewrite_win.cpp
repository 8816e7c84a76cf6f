// The durable steps on Windows: FlushFileBuffers, and moves that are
// written through instead of a sync of the folder; the replace of a user's
// file through ReplaceFileW.

#include "durablewrite.h"

#include "fileio.h"
#include "fileio_win.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <io.h>
#include <qt_windows.h> // windows.h without the min and max macros

namespace kesto::fileio {

namespace {

// Small enough that an abandoned write stops soon.
constexpr std::size_t writeChunk = std::size_t(4) << 20;

// True when the step may be taken; else GetLastError tells of a refused step.
bool allowed(DurableStep::Kind kind, const QString &path, const QString &to = {}, const QString &backup = {},
             bool writeThrough = false)
{
    DurableStep step;
    step.kind = kind;
    step.path = path;
    step.to = to;
    step.backup = backup;
    step.writeThrough = writeThrough;
    if (stepAllowed(step))
        return true;
    SetLastError(ERROR_WRITE_FAULT);
    return false;
}

bool moveFile(const QString &from, const QString &to, DWORD flags)
{
    return allowed(DurableStep::Rename, from, to, {}, (flags & MOVEFILE_WRITE_THROUGH) != 0) &&
           MoveFileExW(longPath(from).c_str(), longPath(to).c_str(), flags);
}

// ReplaceFileW: `replacement` takes the name of `target`, with its
// attributes, ACL and streams; the old file goes to `backup` first.
bool replaceFile(const QString &target, const QString &replacement, const QString &backup)
{
    return allowed(DurableStep::Replace, replacement, target, backup) &&
           ReplaceFileW(longPath(target).c_str(), longPath(replacement).c_str(), longPath(backup).c_str(),
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

// Makes the content of the file at `path` durable (ReplaceFileW has no
// write-through of its own).
bool syncPath(const QString &path)
{
    if (!allowed(DurableStep::SyncFile, path))
        return false;
    const HANDLE h = CreateFileW(longPath(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(h);
    CloseHandle(h);
    return flushed;
}

bool exists(const QString &path)
{
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Attributes that did not come along are set again (Wine's ReplaceFileW
// leaves them behind); the archive bit stays as the write left it.
void keepAttributes(const QString &path, DWORD attributes)
{
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_TEMPORARY;
    const std::wstring name = longPath(path);
    const DWORD now = GetFileAttributesW(name.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & kept) != (attributes & kept)) {
        const DWORD wanted = (now & FILE_ATTRIBUTE_ARCHIVE) | (attributes & kept);
        SetFileAttributesW(name.c_str(), wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
    }
}

} // namespace

bool syncFile(QFileDevice &file, const QString &name)
{
    return file.flush() && allowed(DurableStep::SyncFile, name.isEmpty() ? file.fileName() : name) &&
           FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
}

// NTFS journals its names; the moves themselves ask to be written through.
bool syncFolder(const QString &) { return true; }

struct DurableWrite::Private {
    Private(const QString &path, const std::atomic<bool> *givenUpWhen) : target(path), abandoned(givenUpWhen)
    {}

    QString target;
    const std::atomic<bool> *abandoned;
    QFile temp;
    QString backupKept;
    bool placed = false;

    bool givenUp() const { return abandoned && abandoned->load(std::memory_order_relaxed); }
    Outcome replace(const std::function<void()> &named);
};

DurableWrite::DurableWrite(const QString &target, const std::atomic<bool> *abandoned)
    : d(std::make_unique<Private>(target, abandoned))
{}

DurableWrite::DurableWrite(const QByteArray &nativeTarget, const std::atomic<bool> *abandoned)
    : DurableWrite(QFile::decodeName(nativeTarget), abandoned)
{}

DurableWrite::~DurableWrite()
{
    if (!d->placed && !d->temp.fileName().isEmpty())
        d->temp.remove();
}

bool DurableWrite::ready() const { return true; }

int DurableWrite::handle() const { return d->temp.handle(); }

bool DurableWrite::create(const QString &path)
{
    d->temp.setFileName(path);
    return d->temp.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
           d->temp.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

// The file's ACL decides who may read it, here as for the old file.
bool DurableWrite::createFresh(const QString &prefix, bool, bool)
{
    for (int attempt = 0; attempt < 8 && !d->temp.isOpen(); ++attempt) {
        d->temp.setFileName(prefix + uniqueSuffix());
        if (!d->temp.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            d->temp.setFileName(QString());
    }
    return d->temp.isOpen();
}

bool DurableWrite::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), writeChunk);
        if (d->givenUp() || d->temp.write(bytes.data(), static_cast<qint64>(n)) != static_cast<qint64>(n))
            return false;
        bytes.remove_prefix(n);
    }
    return true;
}

DurableWrite::Outcome DurableWrite::place(Placing placing, const std::function<void()> &named)
{
    if (!syncFile(d->temp) || d->givenUp())
        return Outcome::Failed;
    d->temp.close();
    if (placing == Placing::Replace)
        return d->replace(named);
    // A new file's name is taken only while it is free.
    const DWORD over = placing == Placing::Over ? MOVEFILE_REPLACE_EXISTING : 0;
    if (!moveFile(d->temp.fileName(), d->target, over | MOVEFILE_WRITE_THROUGH))
        return Outcome::Failed;
    d->placed = true;
    if (named)
        named();
    return Outcome::Placed;
}

// ReplaceFileW gives the new file the old one's attributes, ACL, creation
// time and streams. With a backup name, each way it can fail leaves the old
// file under one of the two names; it goes back under its own, and the
// caller may keep it by other means (the in-place rewrite keeps all of that
// by touching only the content): a file the user may write but not delete
// or replace, one held open by another program without leave to rename it.
// The backup's name is no temporary's: should it have to stay, no later
// save takes it for a stray file of its own.
DurableWrite::Outcome DurableWrite::Private::replace(const std::function<void()> &named)
{
    const DWORD attributes = GetFileAttributesW(longPath(target).c_str());
    const QFileInfo info(target);
    const QString backup = backupName(info.path(), info.fileName());
    if (!replaceFile(target, temp.fileName(), backup)) {
        if (!exists(target) && exists(backup) && !moveFile(backup, target, MOVEFILE_WRITE_THROUGH)) {
            backupKept = QDir::toNativeSeparators(backup);
            return Outcome::Failed;
        }
        return exists(target) ? Outcome::OldKept : Outcome::Failed;
    }
    placed = true;
    DeleteFileW(longPath(backup).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        keepAttributes(target, attributes);
    if (named)
        named();
    return syncPath(target) ? Outcome::Placed : Outcome::NotDurable;
}

QString DurableWrite::backupKept() const { return d->backupKept; }

} // namespace kesto::fileio
