#include "recoverywriter.h"

#include "durablewrite.h"
#include "fileio.h"
#include "statedir.h"

#include <QFile>

#include <chrono>
#include <utility>

namespace kesto::recovery {

using namespace fileio;

Writer::Writer(const QString &copyPath, const QString &tempPath, int lockFd, std::function<void()> news)
    : m_copyPath(copyPath), m_tempPath(tempPath), m_lockFd(lockFd), m_news(std::move(news)),
      m_thread([this] { run(); })
{}

Writer::~Writer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Writer::write(Copy &&copy)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        m_job = Job::Write;
        m_copy = std::move(copy);
    }
    m_wake.notify_all();
}

void Writer::remove()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        // A copy still waiting to be written need not be (the writer frees
        // it, and the storage kept for the next one, off this thread).
        m_job = Job::Remove;
        m_spareWanted = 0;
    }
    m_wake.notify_all();
}

std::string Writer::takeBuffer()
{
    const std::lock_guard lock(m_mutex);
    std::string buffer;
    std::swap(buffer, m_spare);
    return buffer;
}

void Writer::prepare(std::size_t bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        // A copy on its way gives its storage back once it is written.
        if (m_stop || m_spare.capacity() >= bytes || m_busy || m_job == Job::Write)
            return;
        m_spareWanted = bytes;
    }
    m_wake.notify_all();
}

void Writer::abandon()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_job = Job::None;
        m_copy.reset();
    }
    m_abandoned = true;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void Writer::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return (m_job == Job::None && !m_busy) || !m_thread.joinable(); });
}

std::vector<Outcome> Writer::takeOutcomes()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_outcomes, {});
}

void Writer::tell(Outcome outcome)
{
    // A write cut short by abandon() says nothing: the process is ending.
    if (m_abandoned)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_outcomes.push_back(outcome);
    }
    if (m_news)
        m_news();
}

void Writer::run()
{
    using Clock = std::chrono::steady_clock;
    const auto refreshEvery = std::chrono::seconds(recoveryLockHeartbeatSeconds);
    auto refreshed = Clock::now();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait_until(lock, refreshed + refreshEvery,
                          [this] { return m_job != Job::None || m_stop || m_spareWanted > 0; });
        // What was handed over is done before the end, unless abandoned.
        if (m_job != Job::None)
            doJob(lock);
        else if (m_stop)
            break;
        else if (m_spareWanted > 0)
            makeSpare(lock);
        if (Clock::now() >= refreshed + refreshEvery) {
            lock.unlock();
            // The lock's time shows hosts sharing this folder that the instance lives.
            touchLock(m_lockFd);
            refreshed = Clock::now();
            lock.lock();
        }
    }
    m_idle.notify_all();
}

void Writer::doJob(std::unique_lock<std::mutex> &lock)
{
    const Job job = std::exchange(m_job, Job::None);
    std::optional<Copy> copy = std::exchange(m_copy, std::nullopt);
    m_busy = true;
    {
        std::string storage;
        if (job == Job::Remove)
            std::swap(storage, m_spare);
        lock.unlock();
        if (job == Job::Remove) {
            removeCopy();
            tell({Outcome::Removed});
        } else if (copy) {
            const bool written = writeCopyFile(m_copyPath, m_tempPath, *copy, &m_abandoned);
            tell({written ? Outcome::Written : Outcome::Failed, copy->writtenMs});
            // The text's storage serves the next copy.
            storage = std::move(copy->text);
            storage.clear();
            lock.lock();
            if (storage.capacity() > m_spare.capacity())
                std::swap(storage, m_spare);
            lock.unlock();
        }
        copy.reset();
    } // large texts are freed here: outside the lock, off the window's thread
    lock.lock();
    m_busy = false;
    m_idle.notify_all();
}

void Writer::makeSpare(std::unique_lock<std::mutex> &lock)
{
    const std::size_t bytes = std::exchange(m_spareWanted, 0);
    m_busy = true;
    {
        std::string spare;
        lock.unlock();
        spare.resize(bytes); // touches every page
        spare.clear();
        lock.lock();
        if (spare.capacity() > m_spare.capacity())
            std::swap(spare, m_spare);
        lock.unlock();
    } // what is not kept is freed outside the lock
    lock.lock();
    m_busy = false;
    m_idle.notify_all();
}

bool writeCopyFile(const QString &copyPath, const QString &tempPath, const Copy &copy,
                   const std::atomic<bool> *abandoned)
{
    const std::string head = encodeHead(copy, copy.text);
    // Written beside the copy, synced, then renamed over it: a crash leaves
    // the old copy or the new one. One that has taken its name counts as
    // written even where its folder could not be synced: a crash still
    // leaves a copy whole.
    DurableWrite temp(copyPath, abandoned);
    return temp.ready() && temp.create(tempPath) && temp.write(head) && temp.write(copy.text) &&
           temp.place(DurableWrite::Placing::Over) != DurableWrite::Outcome::Failed;
}

void Writer::removeCopy()
{
    QFile::remove(m_tempPath);
    QFile::remove(m_copyPath);
}

} // namespace kesto::recovery
