#pragma once
// What a file on disk was when the program last read or wrote it, so that a
// change made by another program since then can be noticed before a save.

#include <QtGlobal>

class QString;

namespace kesto {

struct FileIdentity {
    bool exists = false;
    quint64 device = 0; // the volume's serial number on Windows
    quint64 inode = 0;  // the file index on Windows
    qint64 size = 0;
    qint64 mtimeNs = 0; // modification time, nanoseconds since the epoch
    // Change time, nanoseconds since the epoch: unlike the modification
    // time, no program can set it back, so a rewrite of the same size that
    // restores the old modification time still shows.
    qint64 ctimeNs = 0;

    bool operator==(const FileIdentity &) const = default;
};

// The file `path` names, symbolic links followed; `exists` is false when
// there is none.
FileIdentity identityOf(const QString &path);
// The file open on descriptor `fd` (a C library descriptor on Windows).
FileIdentity identityOfDescriptor(int fd);

// What a save wrote, from the new file's identity taken right after its last
// byte (`atLastByte`) and once more right after it took its name (`placed`):
// the name itself changes the change time, so `placed` counts when nothing
// else about the file changed in between; otherwise someone else wrote it
// meanwhile, and `atLastByte` makes the next save ask.
FileIdentity identityOfPlaced(const FileIdentity &atLastByte, const FileIdentity &placed);

} // namespace kesto
