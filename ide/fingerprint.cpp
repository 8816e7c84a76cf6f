#include "fingerprint.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <numeric>

namespace kesto {
namespace {

constexpr std::uint64_t prime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t prime3 = 0x165667B19E3779F9ULL;
constexpr std::uint64_t prime4 = 0x85EBCA77C2B2AE63ULL;
constexpr std::uint64_t prime5 = 0x27D4EB2F165667C5ULL;
constexpr std::size_t stripe = 32;

constexpr std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian on every machine the program runs on (x86-64 and ARM64).
std::uint64_t read64(const unsigned char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t read32(const unsigned char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

constexpr std::uint64_t round(std::uint64_t acc, std::uint64_t lane)
{
    return rotl(acc + lane * prime2, 31) * prime1;
}

constexpr std::uint64_t merge(std::uint64_t acc, std::uint64_t lane)
{
    return (acc ^ round(0, lane)) * prime1 + prime4;
}

void stripes(std::uint64_t (&v)[4], const unsigned char *p, std::size_t count)
{
    // Four lanes apart, so that their multiplications overlap.
    std::uint64_t a = v[0], b = v[1], c = v[2], d = v[3];
    for (const unsigned char *end = p + count / stripe * stripe; p < end; p += stripe) {
        a = round(a, read64(p));
        b = round(b, read64(p + 8));
        c = round(c, read64(p + 16));
        d = round(d, read64(p + 24));
    }
    v[0] = a, v[1] = b, v[2] = c, v[3] = d;
}

} // namespace

void FingerprintTaker::add(const unsigned char *bytes, std::size_t count)
{
    if (!m_started) {
        m_lanes[0] = prime1 + prime2;
        m_lanes[1] = prime2;
        m_lanes[2] = 0;
        m_lanes[3] = 0 - prime1;
        m_started = true;
    }
    m_size += count;
    if (m_pendingSize > 0) {
        const std::size_t n = std::min(count, stripe - m_pendingSize);
        std::memcpy(m_pending + m_pendingSize, bytes, n);
        m_pendingSize += n;
        bytes += n;
        count -= n;
        if (m_pendingSize < stripe)
            return;
        stripes(m_lanes, m_pending, stripe);
        m_pendingSize = 0;
    }
    const std::size_t whole = count / stripe * stripe;
    stripes(m_lanes, bytes, whole);
    std::memcpy(m_pending, bytes + whole, count - whole);
    m_pendingSize = count - whole;
}

Fingerprint FingerprintTaker::result() const
{
    std::uint64_t acc;
    if (m_size >= stripe) {
        const std::uint64_t(&v)[4] = m_lanes;
        acc = std::accumulate(std::begin(v), std::end(v),
                              rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18), merge);
    } else {
        acc = prime5;
    }
    acc += m_size;
    const unsigned char *p = m_pending;
    std::size_t left = m_pendingSize;
    for (; left >= 8; p += 8, left -= 8)
        acc = rotl(acc ^ round(0, read64(p)), 27) * prime1 + prime4;
    if (left >= 4) {
        acc = rotl(acc ^ (read32(p) * prime1), 23) * prime2 + prime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left)
        acc = rotl(acc ^ (*p * prime5), 11) * prime1;
    acc ^= acc >> 33;
    acc *= prime2;
    acc ^= acc >> 29;
    acc *= prime3;
    acc ^= acc >> 32;
    return {m_size, acc};
}

} // namespace kesto
