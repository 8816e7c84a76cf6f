#pragma once
// Writing a whole file so that only its content changes: owner, group, mode,
// extended attributes, ACL, hard and symbolic links stay as they were, and a
// save cut short by a crash, a kill or a power cut leaves the old content or
// the new, whole.
//
// Each save takes one of two ways:
// - Replace: the content goes into a new file in the same folder, which takes
//   the old one's place by a rename. Taken when the folder is writable, the
//   file has one name and the new file can be given the old one's owner,
//   group, mode and attributes.
// - In place: a backup of the old content and a small record are made and
//   synced first, then the file itself is truncated and rewritten. A failed
//   rewrite puts the old content back at once; one cut short by the end of
//   the process is put right at the next start (saverecord.h).
// A file that may not be written (its mode has no write bit, it is immutable,
// or the user lacks the right) is refused either way.

#include "writeoptions.h"

#include <QString>

#include <string_view>

namespace kesto {

// Writes the content `source` produces to `path`, links followed.
WriteResult writeFile(const QString &path, const ByteSource &source, const WriteOptions &options = {});

// The same for content that is at hand; true when it was written.
bool writeWholeFile(const QString &path, std::string_view bytes, bool quiet = false);

} // namespace kesto
