#include "inplacewrite.h"

#include "durablewrite.h"
#include "fileio.h"
#include "saverecord.h"
#include "statedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kesto::writer {

using namespace fileio;

namespace {

FileIdentity identityOfOpen(const QFile &file)
{
    const FileIdentity id = identityOfDescriptor(file.handle());
    return id.exists ? id : identityOf(file.fileName());
}

// Beside the file where the folder allows, so that it is found there and
// stays on the same disk; else in the program's own folder. The record names
// it before it exists.
bool makeBackup(SaveRecord &record, const QString &path, const QString &stateDir, QFile &backup)
{
    const QFileInfo info(path);
    QStringList folders;
    if (QFileInfo(info.path()).isWritable())
        folders << info.path();
    folders << stateDir;
    for (const QString &folder : folders) {
        backup.setFileName(backupName(folder, info.fileName()));
        if (!record.nameBackup(backup.fileName()))
            return false;
        if (backup.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return true;
    }
    return false;
}

} // namespace

WriteResult rewriteInPlace(QFile &target, const QString &path, const ByteSource &source,
                           const WriteOptions &options)
{
    WriteResult result;
    result.way = WriteWay::InPlace;
    // The new content is measured first: its hashes go into the record, and
    // the user may still cancel before anything is touched.
    ContentHashes fresh;
    if (!source([&fresh](std::string_view bytes) {
            fresh.add(bytes);
            return true;
        }))
        return result;
    fresh.finish();
    if (options.confirm && !options.confirm()) {
        result.status = WriteStatus::Cancelled;
        return result;
    }

    const QString stateDir = stateDirectory();
    SaveRecord record;
    if (stateDir.isEmpty() || !record.begin(stateDir, options.quiet, path, identityOfOpen(target), fresh))
        return result;

    QFile backup;
    if (!makeBackup(record, path, stateDir, backup))
        return result;
    ContentHashes old;
    const bool backedUp = readWhole(target, old, &backup) && syncFile(backup) &&
                          syncFolder(QFileInfo(backup.fileName()).path());
    if (!backedUp || !record.backupDone(old)) {
        backup.remove();
        return result;
    }

    // Only now does the file itself change.
    const KeptMode mode(target);
    qint64 written = 0;
    bool rewritten = target.resize(0) && target.seek(0) && source([&](std::string_view bytes) {
                         written += static_cast<qint64>(bytes.size());
                         return writeOut(target, bytes);
                     }) &&
                     written == fresh.size();
    if (rewritten) {
        // The identity is taken before the sync, and after the mode, whose
        // restoring changes it: whatever another program writes while the
        // sync runs is then its change, which the next save asks about.
        mode.restore();
        result.written = identityOfOpen(target);
        if (options.afterLastByte)
            options.afterLastByte();
        rewritten = syncFile(target, path);
    }
    if (rewritten) {
        result.status = WriteStatus::Written;
        backup.remove();
        return result;
    }
    result.written = {};
    const bool restored = putBack(backup, target, path);
    mode.restore();
    if (restored) {
        backup.remove();
    } else {
        result.backupKept = QDir::toNativeSeparators(backup.fileName());
        record.keep(); // the next start tries again
    }
    return result;
}

} // namespace kesto::writer
