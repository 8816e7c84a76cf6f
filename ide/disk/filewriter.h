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

#include "fileidentity.h"

#include <QString>

#include <functional>
#include <string_view>

namespace kesto {

// Takes the next piece of the new content; false stops the writer.
using ByteSink = std::function<bool(std::string_view)>;
// Hands the whole new content to the sink, piece by piece; false when it
// cannot. The writer may call it twice (once to measure, once to write) and
// relies on the same bytes both times.
using ByteSource = std::function<bool(const ByteSink &)>;

struct WriteOptions {
    // Asked once the new content is known, before the file is touched; false
    // cancels the save and leaves everything as it was.
    std::function<bool()> confirm;
    // The program's own file (the settings): a repair after a crash reports
    // nothing about it.
    bool quiet = false;

    // For the tests only (with WriteResult::way, modOtworz::readSourceFile
    // and recovery::decode): where the file system offers an unnamed
    // temporary file (O_TMPFILE), a killed Replace leaves no stray file;
    // false takes a named one instead, as on file systems without it.
    bool unnamedTemporary = true;
    // For the tests only, as above: called once the last byte is written and
    // the file's identity taken, before the syncs and (Replace) the rename,
    // where another program's change must not pass for the save's own.
    std::function<void()> afterLastByte;
};

enum class WriteStatus { Written, Failed, Cancelled };
enum class WriteWay { None, Replace, InPlace };

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    // The file as it was written, to notice later changes by other programs.
    FileIdentity written;
    // A failed rewrite whose old content could not be put back: the file that
    // still holds that content.
    QString backupKept;
    // The system's number for what failed (errno; GetLastError on Windows),
    // to tell the user why; 0 when the writer refused without asking the system.
    int error = 0;

    // For the tests only (see WriteOptions::unnamedTemporary): the way taken.
    WriteWay way = WriteWay::None;
};

// Writes the content `source` produces to `path`, links followed.
WriteResult writeFile(const QString &path, const ByteSource &source, const WriteOptions &options = {});

// The same for content that is at hand; true when it was written.
bool writeWholeFile(const QString &path, std::string_view bytes, bool quiet = false);

} // namespace kesto
