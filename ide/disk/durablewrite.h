#pragma once
// How a write is made to last, written once for every file the program must
// not lose: a user's file saved whole, the recovery copy, the in-place
// save's record and backup.
//
// The steps that make a write durable are the content of a file synced, the
// names in a folder synced, a file renamed over another, a file replaced.
// Every durable write takes them through this file, and only here, so that
// their order can be watched. A whole new file takes them through
// DurableWrite; a file changed in place (the save record, the in-place
// rewrite) through syncFile() and syncFolder().

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

class QFileDevice;

namespace kesto::fileio {

struct DurableStep {
    enum Kind { SyncFile, SyncFolder, Rename, Replace };
    Kind kind = SyncFile;
    // SyncFile: the file (empty while it has no name); SyncFolder: the
    // folder; Rename, Replace: the file that takes another's name.
    QString path;
    QString to;     // Rename, Replace: the name it takes
    QString backup; // Replace: where the file that had that name goes
    // Windows: the rename asks to reach the disk before it returns.
    bool writeThrough = false;
};
// For the tests only: `watch` is shown each step before it is taken, on the
// thread that takes it; when it returns false, the step fails as if the
// system had refused it (an I/O error). An empty one watches nothing.
using StepWatch = std::function<bool(const DurableStep &)>;
void watchDurableSteps(StepWatch watch);
// True when no watcher refuses `step`. Only the platform's halves of this
// file ask, right before they take it.
bool stepAllowed(const DurableStep &step);

// Makes the file's content and size durable. `name` tells a watcher which
// file it is where the file keeps no name of its own (openExisting() opens it
// by descriptor).
bool syncFile(QFileDevice &file, const QString &name = {});
// Makes the names in a folder durable. A file system that cannot sync a
// folder (EINVAL on some network and FUSE mounts), or a folder the user may
// write but not read, counts as done; on Windows NTFS journals its names.
bool syncFolder(const QString &folder);

// A file's new content, written into a temporary file beside it that takes
// its name only once it is whole and synced: a crash at any moment leaves
// the old file or the new one. The name is made durable too, by a sync of
// the folder (Unix) or by moves that are written through (Windows).
class DurableWrite {
public:
    // How the new file takes the name.
    enum class Placing {
        // In place of whatever has it.
        Over,
        // The name is free (a save of a new file): Windows leaves a file
        // that came meanwhile alone and fails.
        New,
        // In place of a user's file, whose attributes the new one takes
        // over: on Windows through ReplaceFileW (attributes, ACL, streams),
        // with the old file under a backup name while it runs.
        Replace,
    };
    enum class Outcome {
        Placed,
        // Placed, but the name is not known to be durable.
        NotDurable,
        // Nothing changed: the old file is still there under its name
        // (Windows: a file that may not be replaced or deleted).
        OldKept,
        Failed,
    };

    // `target` is the name the new file is to take. On Unix its folder is
    // opened now: ready() tells whether that worked. The write gives up as
    // soon as `abandoned` (when given) turns true, and then never takes the
    // name.
    explicit DurableWrite(const QString &target, const std::atomic<bool> *abandoned = nullptr);
    // The same for a target in the system's own terms (native()): a name
    // that a link leads to need not be text.
    explicit DurableWrite(const QByteArray &nativeTarget, const std::atomic<bool> *abandoned = nullptr);
    // Removes the temporary file unless it took the target's name.
    ~DurableWrite();
    DurableWrite(const DurableWrite &) = delete;
    DurableWrite &operator=(const DurableWrite &) = delete;

    bool ready() const;
    // Makes the temporary: at `path` beside the target (emptied if it is
    // there), readable by the owner only...
    bool create(const QString &path);
    // ...or under a fresh name, `prefix` (a name in the target's folder)
    // and a unique suffix. `mayBeUnnamed`: where the file system offers
    // unnamed files (O_TMPFILE), the temporary gets its name only when it
    // is whole, so that a kill before leaves nothing behind. A file the
    // owner alone may read (`ownerOnly`) until it is given the old file's
    // mode, or one the user's umask decides for.
    bool createFresh(const QString &prefix, bool mayBeUnnamed, bool ownerOnly);
    // The temporary's descriptor (a C library descriptor on Windows); -1
    // once it is closed (Windows closes it to move it).
    int handle() const;

    // Appends `bytes` to the temporary.
    bool write(std::string_view bytes);

    // Syncs the content, gives the file the target's name and makes that
    // name durable. `named`, when given, is called right after the name is
    // taken, before the last sync.
    Outcome place(Placing placing, const std::function<void()> &named = {});
    // Replace that failed with the old file under its backup name, where it
    // could not be moved back: that name, as the user is shown it.
    QString backupKept() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kesto::fileio
