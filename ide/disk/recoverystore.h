#pragma once
// The folder of recovery copies, shared by every running instance of the
// program (and, with a home folder on the network, by every machine of a
// lab): which copy is whose, and which are left over from an instance that
// died.
//
// Each instance holds a lock on a file of its own, "<id>.lock" (flock, with
// the host name and process id inside; on Windows a QLockFile, which keeps
// the file open so that nobody else can take or remove it), for as long as it
// runs; its copy is "<id>.copy". A copy whose lock nobody holds is left over. A starting
// instance claims one by renaming it to its own copy name: rename is atomic,
// so two instances never take the same one.

#include <QString>

#include <memory>
#include <string>

class QLockFile;

namespace kesto::recovery {

class Store {
public:
    // Takes a lock of this instance's own in `folder`; isHeld() tells whether
    // that worked (without it no copy is written).
    explicit Store(const QString &folder);
    // Gives the lock up. The copy stays: unless it was removed, it holds
    // unsaved text, and from now on it is left over.
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    bool isHeld() const;
    QString copyPath() const { return m_folder + u'/' + m_id + QStringLiteral(".copy"); }
    QString tempPath() const { return copyPath() + QStringLiteral(".tmp"); }
    // The lock file, open: the writer refreshes its time now and then (see
    // statedir.h). -1 where the lock is no descriptor (Windows).
    int lockDescriptor() const { return m_lockFd; }

    // Makes the most recent left-over copy this instance's own; false when
    // there is none (or this instance has a copy already). Also clears away
    // the lock files dead instances left without a copy.
    bool claimLeftover();
    // Moves this instance's copy to a name that is never offered again;
    // returns that name, empty when it could not be moved.
    QString setAside();
    // Gives this instance's copy up under a name no instance holds, so that
    // it is left over again and the next start offers it; false when it
    // could not be moved.
    bool giveBack();
    void removeCopy();

private:
    QString m_folder;
    QString m_id;
    int m_lockFd = -1;                 // Unix: the lock file, held with flock
    std::unique_ptr<QLockFile> m_lock; // elsewhere
};

} // namespace kesto::recovery
