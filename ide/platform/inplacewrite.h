#pragma once
// The file writer's own parts (filewriter.h): the in-place way and the
// helpers both ways share. Nothing outside the writer uses these.

#include "filewriter.h"

#include <QtGlobal>

class QFile;
class QFileDevice;

namespace kesto::writer {

// Rewrites `target`, open for reading and writing, in place: backup and
// record first, then the new content; puts the old content back when the
// rewrite fails. `path` is the file's absolute name, for the record.
WriteResult rewriteInPlace(QFile &target, const QString &path, const ByteSource &source,
                           const WriteOptions &options);

// Opens an existing regular file for reading and writing, never blocking on
// a FIFO or a device put in its place.
bool openExisting(QFile &file, const QString &path);
// Writes `bytes` to the file at its current position; false on any error.
bool writeOut(QFileDevice &file, std::string_view bytes);
// Starts sending what was just written to the disk, so that the sync at the
// end has little left to wait for (Linux; elsewhere nothing).
void startWriteback(int fd, qint64 offset, qint64 size);
// Makes the file's content and size durable.
bool syncFile(QFileDevice &file);
// Makes the names in a folder durable. A file system that cannot sync a
// folder (EINVAL on some network and FUSE mounts) counts as done.
bool syncFolder(const QString &folder);
// Random letters and digits, for names that must not clash.
inline constexpr qsizetype uniqueSuffixLength = 8;
QString uniqueSuffix();

} // namespace kesto::writer
