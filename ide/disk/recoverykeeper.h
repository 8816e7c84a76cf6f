#pragma once
// The window's recovery copy: while the document has unsaved changes, a copy
// of its text in the program's own folder, so that a crash, a kill, a power
// cut or a logout does not take the text with it. The window takes the text
// (only its own thread may read the editor, recovery.cpp); the keeper hands
// it to the writer thread, which does the rest.

#include "recoverycopy.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace kesto {

namespace recovery {
class Store;
class Writer;
} // namespace recovery

class RecoveryKeeper {
public:
    RecoveryKeeper();
    // Lets the writer finish, then gives the lock up: a copy still there is
    // left over for the next start.
    ~RecoveryKeeper();
    RecoveryKeeper(const RecoveryKeeper &) = delete;
    RecoveryKeeper &operator=(const RecoveryKeeper &) = delete;

    // `news` runs on the writer's thread whenever an outcome waits in
    // takeOutcomes(); set before start().
    void onNews(std::function<void()> news) { m_news = std::move(news); }
    // Takes this instance's lock in the program's folder and starts the
    // writer, the first time; false when there is no folder to write to.
    bool start();
    // What came of the copies written and removed since the last call.
    std::vector<recovery::Outcome> takeOutcomes();
    // Storage for the next copy's text (see recovery::Writer::takeBuffer()).
    std::string takeBuffer();
    void prepare(std::size_t bytes);
    void write(recovery::Copy &&copy);
    // The copy goes: its text is saved or thrown away.
    void remove();
    // The process is about to end: stops the writer, removes the copy and
    // the lock. Nothing is written afterwards.
    void finish();
    // The process is about to end with the text unsaved: stops the writer
    // and writes `copy` on this thread, for the next start to offer. Nothing
    // is written afterwards. True when the copy is on disk.
    bool writeLast(const recovery::Copy &copy);

    // Makes the most recent left-over copy this instance's own; false when
    // there is none, or this instance's own copy is still there.
    bool claimLeftover();
    // Moves this instance's copy where it is never offered again; its new
    // name, or empty.
    QString setAside();
    // Leaves this instance's copy over for the next start, which asks about
    // it again; what this run writes from now on goes elsewhere.
    bool giveBack();
    QString copyPath() const;
    // Returns once the copies handed over are written, or removed.
    void waitIdle();

private:
    bool openStore();

    bool m_finished = false;
    std::function<void()> m_news;
    std::unique_ptr<recovery::Store> m_store;
    std::unique_ptr<recovery::Writer> m_writer;
};

} // namespace kesto
