#pragma once
// The thread that writes recovery copies, so that encoding and writing a
// large text never holds up the window. It writes one copy at a time; a copy
// handed over while another is being written waits, and a newer one takes
// its place.

#include "recoverycopy.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kesto::recovery {

class Writer {
public:
    // Writes to `copyPath` through `tempPath` beside it; refreshes the time of
    // the lock file open on `lockFd` now and then, to show it is alive. Calls
    // `news` on its own thread after each outcome, which waits in
    // takeOutcomes(); `news` must do no more than wake the thread that takes them.
    Writer(const QString &copyPath, const QString &tempPath, int lockFd, std::function<void()> news = {});
    // Finishes what it was given, then ends.
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    void write(Copy &&copy);
    // The copy goes, once a write in progress is done.
    void remove();

    // Storage for the next copy's text, its pages already in memory: filling
    // fresh pages costs the window more than copying the text into them. The
    // text of the last copy written is kept for this, or one of `bytes` is
    // made ahead of time by prepare().
    std::string takeBuffer();
    void prepare(std::size_t bytes);
    // Gives up a write in progress and whatever waits, and ends the thread:
    // nothing it does afterwards can put a copy back.
    void abandon();
    // Returns once everything handed over is done (tests and the bench).
    void waitIdle();
    // The outcomes since the last call, oldest first. None after abandon().
    std::vector<Outcome> takeOutcomes();

private:
    enum class Job { None, Write, Remove };

    // On the writer's thread. doJob() and makeSpare() are called with the
    // lock held and return with it held; they let it go while they work.
    void run();
    void doJob(std::unique_lock<std::mutex> &lock);
    void makeSpare(std::unique_lock<std::mutex> &lock);
    void removeCopy();
    void tell(Outcome outcome);

    const QString m_copyPath, m_tempPath;
    const int m_lockFd;
    const std::function<void()> m_news;
    std::mutex m_mutex;
    std::condition_variable m_wake; // work handed over, or the end
    std::condition_variable m_idle; // a job finished
    Job m_job = Job::None;
    std::optional<Copy> m_copy; // for Job::Write
    std::string m_spare;        // see takeBuffer()
    std::size_t m_spareWanted = 0;
    std::vector<Outcome> m_outcomes;
    bool m_busy = false;
    bool m_stop = false;
    std::atomic<bool> m_abandoned{false};
    std::thread m_thread; // last: starts once everything above exists
};

// Writes `copy` to `copyPath` through `tempPath` beside it: a crash at any
// moment leaves the previous copy or this one, whole. Gives up as soon as
// `abandoned` (when given) turns true. The writer's own way of writing, also
// used on the window's thread when the process is about to end.
bool writeCopyFile(const QString &copyPath, const QString &tempPath, const Copy &copy,
                   const std::atomic<bool> *abandoned = nullptr);

} // namespace kesto::recovery
