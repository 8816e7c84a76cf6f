#include "recoverykeeper.h"

#include "recoverystore.h"
#include "recoverywriter.h"
#include "statedir.h"

namespace kesto {

RecoveryKeeper::RecoveryKeeper() = default;

RecoveryKeeper::~RecoveryKeeper()
{
    m_writer.reset();
    m_store.reset();
}

bool RecoveryKeeper::openStore()
{
    if (m_store)
        return true;
    auto store = std::make_unique<recovery::Store>(stateDirectory());
    if (!store->isHeld())
        return false;
    m_store = std::move(store);
    return true;
}

bool RecoveryKeeper::start()
{
    if (m_writer)
        return true;
    if (m_finished || !openStore())
        return false;
    m_writer = std::make_unique<recovery::Writer>(m_store->copyPath(), m_store->tempPath(),
                                                  m_store->lockDescriptor(), m_news);
    return true;
}

std::vector<recovery::Outcome> RecoveryKeeper::takeOutcomes()
{
    return m_writer ? m_writer->takeOutcomes() : std::vector<recovery::Outcome>();
}

std::string RecoveryKeeper::takeBuffer() { return m_writer ? m_writer->takeBuffer() : std::string(); }

void RecoveryKeeper::prepare(std::size_t bytes)
{
    if (m_writer)
        m_writer->prepare(bytes);
}

void RecoveryKeeper::write(recovery::Copy &&copy)
{
    if (m_writer)
        m_writer->write(std::move(copy));
}

void RecoveryKeeper::remove()
{
    if (m_writer)
        m_writer->remove();
}

void RecoveryKeeper::finish()
{
    m_finished = true;
    if (!m_writer)
        return;
    // The writer ends first, so that no write of its own puts a copy back.
    m_writer->abandon();
    m_writer.reset();
    m_store->removeCopy();
    m_store.reset();
}

bool RecoveryKeeper::writeLast(const recovery::Copy &copy)
{
    if (m_finished || !openStore())
        return false;
    m_finished = true;
    if (m_writer) {
        // A write in progress is of an older text: given up, not waited for.
        m_writer->abandon();
        m_writer.reset();
    }
    return recovery::writeCopyFile(m_store->copyPath(), m_store->tempPath(), copy);
}

bool RecoveryKeeper::claimLeftover() { return m_store && m_store->claimLeftover(); }

QString RecoveryKeeper::setAside() { return m_store ? m_store->setAside() : QString(); }

bool RecoveryKeeper::giveBack() { return m_store && m_store->giveBack(); }

QString RecoveryKeeper::copyPath() const { return m_store ? m_store->copyPath() : QString(); }

void RecoveryKeeper::waitIdle()
{
    if (m_writer)
        m_writer->waitIdle();
}

} // namespace kesto
