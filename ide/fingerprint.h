#pragma once
// What tells one content of a file from another without keeping it: its
// size and a 64-bit hash of its bytes (XXH64 with seed 0, fast enough to
// go along with every read and write of a large file), taken a piece at a
// time. Free of Qt, as the code-page tables.

#include <cstddef>
#include <cstdint>

namespace kesto {

struct Fingerprint {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    friend bool operator==(const Fingerprint &, const Fingerprint &) = default;
};

class FingerprintTaker {
public:
    void add(const unsigned char *bytes, std::size_t count);
    // Of everything added so far.
    Fingerprint result() const;

private:
    std::uint64_t m_lanes[4] = {};
    bool m_started = false;
    unsigned char m_pending[32] = {}; // the start of a stripe not yet whole
    std::size_t m_pendingSize = 0;
    std::uint64_t m_size = 0;
};

} // namespace kesto
