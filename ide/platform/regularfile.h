#pragma once

class QFile;
class QString;

namespace kesto {

// Opens `file` (its name already set) for reading when it names a regular
// file. Directories, FIFOs, devices and sockets are refused without blocking:
// a FIFO with no writer would otherwise hang the window on open().
bool openRegularFileForReading(QFile &file);

// What a save to `path` would replace, symbolic links followed.
struct SaveTarget {
    bool exists = false;
    bool regular = false; // a plain file, not a directory, FIFO, device or socket
    long links = 0;       // names the file has (hard links); 1 where that is unknown
};
SaveTarget inspectSaveTarget(const QString &path);

} // namespace kesto
