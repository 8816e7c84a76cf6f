#pragma once
// What a file on disk was when the program last read or wrote it, so that a
// change made by another program since then can be noticed before a save.

#include <QtGlobal>

class QString;

namespace kesto {

struct FileIdentity {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0; // modification time, nanoseconds since the epoch

    bool operator==(const FileIdentity &) const = default;
};

// The file `path` names, symbolic links followed; `exists` is false when
// there is none.
FileIdentity identityOf(const QString &path);
// The file open on descriptor `fd` (Unix).
FileIdentity identityOfDescriptor(int fd);

} // namespace kesto
