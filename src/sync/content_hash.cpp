#include "sync/content_hash.h"

#include <QtEndian>

namespace yunshan::sync {

namespace {

constexpr quint64 kP1 = 0x9E3779B185EBCA87ull;
constexpr quint64 kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr quint64 kP3 = 0x165667B19E3779F9ull;
constexpr quint64 kP4 = 0x85EBCA77C2B2AE63ull;
constexpr quint64 kP5 = 0x27D4EB2F165667C5ull;

inline quint64 rotl(quint64 x, int r)
{
    return (x << r) | (x >> (64 - r));
}

// Little-endian loads whatever the machine's byte order.
inline quint64 load64(const unsigned char *p)
{
    return qFromLittleEndian<quint64>(p);
}
inline quint64 load32(const unsigned char *p)
{
    return qFromLittleEndian<quint32>(p);
}

inline quint64 mix_round(quint64 acc, quint64 input)
{
    acc += input * kP2;
    acc = rotl(acc, 31);
    return acc * kP1;
}

inline quint64 merge_round(quint64 acc, quint64 value)
{
    acc ^= mix_round(0, value);
    return acc * kP1 + kP4;
}

} // namespace

quint64 content_hash(const char *data, std::size_t size, quint64 seed)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const unsigned char *const end = p + size;
    quint64 h;
    if (size >= 32) {
        quint64 v1 = seed + kP1 + kP2;
        quint64 v2 = seed + kP2;
        quint64 v3 = seed;
        quint64 v4 = seed - kP1;
        const unsigned char *const limit = end - 32;
        do {
            v1 = mix_round(v1, load64(p));
            v2 = mix_round(v2, load64(p + 8));
            v3 = mix_round(v3, load64(p + 16));
            v4 = mix_round(v4, load64(p + 24));
            p += 32;
        } while (p <= limit);
        h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
        h = merge_round(h, v1);
        h = merge_round(h, v2);
        h = merge_round(h, v3);
        h = merge_round(h, v4);
    } else {
        h = seed + kP5;
    }
    h += quint64(size);
    while (end - p >= 8) {
        h ^= mix_round(0, load64(p));
        h = rotl(h, 27) * kP1 + kP4;
        p += 8;
    }
    if (end - p >= 4) {
        h ^= load32(p) * kP1;
        h = rotl(h, 23) * kP2 + kP3;
        p += 4;
    }
    while (p < end) {
        h ^= quint64(*p) * kP5;
        h = rotl(h, 11) * kP1;
        ++p;
    }
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    h ^= h >> 32;
    return h;
}

void FieldHasher::add_bytes(const char *data, std::size_t size)
{
    h_ = content_hash(data, size, h_ + 1);
}

void FieldHasher::add_null()
{
    h_ = content_hash(nullptr, 0, h_ + 2);
}

void FieldHasher::add_integer(qint64 value)
{
    unsigned char bytes[8];
    auto v = quint64(value);
    for (unsigned char &b : bytes) {
        b = static_cast<unsigned char>(v & 0xFF);
        v >>= 8;
    }
    h_ = content_hash(reinterpret_cast<const char *>(bytes), sizeof bytes, h_ + 3);
}

} // namespace yunshan::sync
