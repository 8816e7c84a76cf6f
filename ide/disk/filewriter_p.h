#pragma once
// What the writer's shared part (filewriter.cpp) and its halves for Unix
// (filewriter_unix.cpp) and Windows (filewriter_win.cpp) hand each other.

#include "durablewrite.h"
#include "writeoptions.h"

namespace kesto::writer {

// A temporary file is named after its target, so that the next save of that
// file finds one a killed save left behind, and says what it is.
QString temporaryPrefix(const QString &name);
// Removes the stray temporary files of `name` in `folder`: what saves left
// when they were killed between naming their temporary file and renaming it.
void removeStrayTemporaries(const QString &folder, const QString &name);
// Removes the stray temporary `path` unless a save still running in another
// instance holds it (a lock on Unix; on Windows an open file cannot go).
void removeUnlessHeld(const QString &path);

// What the Replace way came to; NotPossible hands the save to the in-place way.
enum class Replace { Done, Failed, Cancelled, NotPossible };
// The Replace way once its temporary, beside `target`, is open: the
// content, the user's word, the name.
Replace writeAndPlace(fileio::DurableWrite &temp, const QString &target,
                      fileio::DurableWrite::Placing placing, const ByteSource &source,
                      const WriteOptions &options, WriteResult &result);
// Notes in `result` what the Replace way came to; false when the in-place way is to go on.
bool replaceIsOver(Replace r, WriteResult &result);

// The platform's save of the file at `path`: the way chosen and taken.
WriteResult writeFileHere(const QString &path, const ByteSource &source, const WriteOptions &options);

} // namespace kesto::writer
