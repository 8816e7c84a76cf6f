#pragma once

class QFile;

namespace kesto {

// Opens `file` (its name already set) for reading when it names a regular
// file. Directories, FIFOs, devices and sockets are refused without blocking:
// a FIFO with no writer would otherwise hang the window on open().
bool openRegularFileForReading(QFile &file);

} // namespace kesto
