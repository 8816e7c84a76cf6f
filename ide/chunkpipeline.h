#pragma once
// Runs a producer of chunks on a thread of its own, a few chunks ahead of
// the consumer, so that making one chunk (reading and decoding a file)
// overlaps using the last (putting it into the editor).

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kesto {

// How much of a file Open reads and Save encodes at a time: large enough
// that per-chunk costs vanish, small enough to stay in the cache.
inline constexpr std::size_t chunkBytes = std::size_t(1) << 20;

template <typename Chunk> class ChunkPipeline {
public:
    // Hands a finished chunk to the consumer; false when the consumer has
    // stopped taking chunks and the producer should give up.
    using Push = std::function<bool(Chunk &&)>;
    // Produces every chunk through `push`; returns false on failure.
    using Producer = std::function<bool(const Push &)>;

    explicit ChunkPipeline(Producer producer, std::size_t ahead = 4)
        : m_ahead(ahead), m_worker([this, producer = std::move(producer)] { run(producer); })
    {}
    ~ChunkPipeline()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_worker.join();
    }
    ChunkPipeline(const ChunkPipeline &) = delete;
    ChunkPipeline &operator=(const ChunkPipeline &) = delete;

    // 1 with the next chunk, 0 once all are taken, -1 when the producer failed.
    int next(Chunk &chunk)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_state != Running; });
        if (m_ready.empty())
            return m_state == Failed ? -1 : 0;
        chunk = std::move(m_ready.front());
        m_ready.pop_front();
        m_changed.notify_all();
        return 1;
    }

private:
    enum State { Running, Done, Failed };

    void run(const Producer &producer)
    {
        const bool ok = producer([this](Chunk &&chunk) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_ready.size() < m_ahead || m_stop; });
            if (m_stop)
                return false;
            m_ready.push_back(std::move(chunk));
            m_changed.notify_all();
            return true;
        });
        {
            const std::lock_guard lock(m_mutex);
            // A failure discards what was made: the consumer must not take a
            // partial result for a whole one.
            if (!ok)
                m_ready.clear();
            m_state = ok ? Done : Failed;
        }
        m_changed.notify_all();
    }

    const std::size_t m_ahead;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_ready;
    State m_state = Running;
    bool m_stop = false;
    std::thread m_worker; // last: starts once everything above exists
};

} // namespace kesto
