#pragma once
// The file writer's in-place way (filewriter.h). Nothing outside the writer
// uses it.

#include "writeoptions.h"

class QFile;

namespace kesto::writer {

// Rewrites `target`, open for reading and writing, in place: backup and
// record first, then the new content; puts the old content back when the
// rewrite fails. `path` is the file's absolute name, for the record.
WriteResult rewriteInPlace(QFile &target, const QString &path, const ByteSource &source,
                           const WriteOptions &options);

} // namespace kesto::writer
