#pragma once
// What a whole-file write takes and gives back: the content, piece by piece,
// the caller's options, and the outcome. Shared by the writer (filewriter.h)
// and its in-place way (inplacewrite.h).

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

} // namespace kesto
