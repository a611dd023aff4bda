// CBC with the x86 AES instructions, and for decryption their vector forms (2 or 4 blocks per
// register). Only the functions below are compiled for them (target
// attribute), so the rest of the program runs on any x86-64; they are called only after the
// runtime check in hardware_available(). The round keys are the same 44 little-endian words as the
// table code uses: in memory they are exactly the byte layout the instructions expect, and the
// decryption schedule (InvMixColumns on round keys 1 to 9) is the one they are made for.
#include "crypto/aes_engine.h"

#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define YUNSHAN_AES_X86 1
#define YUNSHAN_AES_TARGET __attribute__((target("aes,sse2")))
#define YUNSHAN_VAES256_TARGET __attribute__((target("aes,vaes,avx2")))
#define YUNSHAN_VAES512_TARGET __attribute__((target("aes,vaes,avx512f")))
#endif

namespace yunshan::aes_engine {

#ifdef YUNSHAN_AES_X86

namespace {

YUNSHAN_AES_TARGET inline __m128i load(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

YUNSHAN_AES_TARGET inline void store(void *p, __m128i v)
{
    _mm_storeu_si128(static_cast<__m128i *>(p), v);
}

struct Features {
    bool aes = false, vaes = false, avx2 = false, avx512f = false;
};

const Features &features()
{
    static const Features f = [] {
        __builtin_cpu_init();
        Features r;
        r.aes = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
        r.vaes = __builtin_cpu_supports("vaes");
        r.avx2 = __builtin_cpu_supports("avx2");       // also means the OS saves the AVX state
        r.avx512f = __builtin_cpu_supports("avx512f"); // likewise for the AVX-512 state
        return r;
    }();
    return f;
}

// Blocks decrypted per loop of the vector engines.
constexpr std::size_t kGroup = 16;

// Decrypts the whole groups of 16 blocks with 2 blocks per register; returns how many blocks.
YUNSHAN_VAES256_TARGET std::size_t decrypt_groups_vaes256(const AesExpandedKey &decrypt_key, AesBlock &chain,
                                                          const std::uint8_t *in, std::uint8_t *out, std::size_t blocks)
{
    constexpr std::size_t kRegs = kGroup / 2;
    __m256i k[11];
#pragma GCC unroll 16
    for (int i = 0; i < 11; ++i)
        k[i] = _mm256_broadcastsi128_si256(load(decrypt_key.data() + 4 * i));
    // The high block of `last` is always the ciphertext block before the current group.
    __m256i last = _mm256_broadcastsi128_si256(load(chain.data()));
    std::size_t done = 0;
    for (; blocks - done >= kGroup; done += kGroup, in += 16 * kGroup, out += 16 * kGroup) {
        __m256i c[kRegs], x[kRegs];
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kRegs; ++i) { // all loaded before any store: in may be out
            c[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 32 * i));
            x[i] = _mm256_xor_si256(c[i], k[10]);
        }
#pragma GCC unroll 16
        for (int round = 9; round >= 1; --round)
#pragma GCC unroll 16
            for (std::size_t i = 0; i < kRegs; ++i)
                x[i] = _mm256_aesdec_epi128(x[i], k[round]);
        __m256i before = last;
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kRegs; ++i) {
            x[i] = _mm256_aesdeclast_epi128(x[i], k[0]);
            // The blocks that chain into this register: [high of the one before, low of this one].
            const __m256i previous = _mm256_permute2x128_si256(before, c[i], 0x21);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32 * i), _mm256_xor_si256(x[i], previous));
            before = c[i];
        }
        last = c[kRegs - 1];
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(chain.data()), _mm256_extracti128_si256(last, 1));
    return done;
}

// The same with 4 blocks per register.
YUNSHAN_VAES512_TARGET std::size_t decrypt_groups_vaes512(const AesExpandedKey &decrypt_key, AesBlock &chain,
                                                          const std::uint8_t *in, std::uint8_t *out, std::size_t blocks)
{
    constexpr std::size_t kRegs = 2 * kGroup / 4;
    // (The all-ones masked forms of broadcast, align and extract: the plain ones trip a
    // false uninitialised-value warning inside the compiler's own header.)
    __m512i k[11];
#pragma GCC unroll 16
    for (int i = 0; i < 11; ++i)
        k[i] = _mm512_maskz_broadcast_i32x4(0xffff, load(decrypt_key.data() + 4 * i));
    // The top block of `last` is always the ciphertext block before the current group.
    __m512i last = _mm512_maskz_broadcast_i32x4(0xffff, load(chain.data()));
    std::size_t done = 0;
    for (; blocks - done >= 4 * kRegs; done += 4 * kRegs, in += 64 * kRegs, out += 64 * kRegs) {
        __m512i c[kRegs], x[kRegs];
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kRegs; ++i) {
            c[i] = _mm512_loadu_si512(in + 64 * i);
            x[i] = _mm512_xor_si512(c[i], k[10]);
        }
#pragma GCC unroll 16
        for (int round = 9; round >= 1; --round)
#pragma GCC unroll 16
            for (std::size_t i = 0; i < kRegs; ++i)
                x[i] = _mm512_aesdec_epi128(x[i], k[round]);
        __m512i before = last;
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kRegs; ++i) {
            x[i] = _mm512_aesdeclast_epi128(x[i], k[0]);
            // [top block of the one before, blocks 0-2 of this one]
            const __m512i previous = _mm512_maskz_alignr_epi64(0xff, c[i], before, 6);
            _mm512_storeu_si512(out + 64 * i, _mm512_xor_si512(x[i], previous));
            before = c[i];
        }
        last = c[kRegs - 1];
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(chain.data()), _mm512_maskz_extracti32x4_epi32(0xf, last, 3));
    return done;
}

YUNSHAN_AES_TARGET void cbc_decrypt_aesni(const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                                          std::uint8_t *out, std::size_t blocks)
{
    __m128i k[11];
#pragma GCC unroll 16
    for (int i = 0; i < 11; ++i)
        k[i] = load(decrypt_key.data() + 4 * i);
    __m128i previous = load(chain.data());

    // Blocks decrypt independently: eight at a time keep the AES unit busy.
    constexpr std::size_t kLanes = 8;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i c[kLanes], x[kLanes];
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kLanes; ++i) {
            c[i] = load(in + 16 * i); // all loaded before any store: in and out may overlap
            x[i] = _mm_xor_si128(c[i], k[10]);
        }
#pragma GCC unroll 16
        for (int round = 9; round >= 1; --round)
#pragma GCC unroll 16
            for (std::size_t i = 0; i < kLanes; ++i)
                x[i] = _mm_aesdec_si128(x[i], k[round]);
#pragma GCC unroll 16
        for (std::size_t i = 0; i < kLanes; ++i)
            x[i] = _mm_aesdeclast_si128(x[i], k[0]);
        store(out, _mm_xor_si128(x[0], previous));
#pragma GCC unroll 16
        for (std::size_t i = 1; i < kLanes; ++i)
            store(out + 16 * i, _mm_xor_si128(x[i], c[i - 1]));
        previous = c[kLanes - 1];
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = load(in);
        __m128i x = _mm_xor_si128(c, k[10]);
#pragma GCC unroll 16
        for (int round = 9; round >= 1; --round)
            x = _mm_aesdec_si128(x, k[round]);
        x = _mm_aesdeclast_si128(x, k[0]);
        store(out, _mm_xor_si128(x, previous));
        previous = c;
    }
    store(chain.data(), previous);
}

} // namespace

bool available(Engine engine)
{
    const Features &f = features();
    switch (engine) {
    case Engine::Table:
        return true;
    case Engine::Aesni:
        return f.aes;
    case Engine::Vaes256:
        return f.aes && f.vaes && f.avx2;
    case Engine::Vaes512:
        return f.aes && f.vaes && f.avx512f;
    }
    return false;
}

// Each block's encryption must wait for the one before, so the loop's speed is the latency of
// the chain from one ciphertext block to the next. Written plainly (c = E(p ^ c)), the compiler
// puts two exclusive-ors on that chain besides the ten AES rounds. Here none remain: the last
// round of block i takes k10 ^ k0 ^ p[i+1] as its round key, so it yields c[i] ^ k0 ^ p[i+1],
// which is already block i+1 after its first round-key addition; c[i] itself is recovered beside
// the chain by one more exclusive-or.
YUNSHAN_AES_TARGET void cbc_encrypt_aesni(const AesExpandedKey &encrypt_key, AesBlock &chain, const std::uint8_t *in,
                                          std::uint8_t *out, std::size_t blocks)
{
    if (blocks == 0)
        return;
    __m128i k[11];
#pragma GCC unroll 16
    for (int i = 0; i < 11; ++i)
        k[i] = load(encrypt_key.data() + 4 * i);
    const __m128i last_first = _mm_xor_si128(k[10], k[0]);
    __m128i x = _mm_xor_si128(_mm_xor_si128(load(in), k[0]), load(chain.data()));
    for (; blocks > 1; --blocks, in += 16, out += 16) {
        // The next plaintext is read before this block is stored: in and out may be the same.
        const __m128i whitened_next = _mm_xor_si128(load(in + 16), k[0]);
#pragma GCC unroll 16
        for (int round = 1; round < 10; ++round)
            x = _mm_aesenc_si128(x, k[round]);
        x = _mm_aesenclast_si128(x, _mm_xor_si128(last_first, load(in + 16)));
        store(out, _mm_xor_si128(x, whitened_next));
    }
#pragma GCC unroll 16
    for (int round = 1; round < 10; ++round)
        x = _mm_aesenc_si128(x, k[round]);
    x = _mm_aesenclast_si128(x, k[10]);
    store(out, x);
    store(chain.data(), x);
}

void cbc_decrypt_hardware(Engine engine, const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                          std::uint8_t *out, std::size_t blocks)
{
    std::size_t done = 0;
    if (engine == Engine::Vaes512)
        done = decrypt_groups_vaes512(decrypt_key, chain, in, out, blocks);
    else if (engine == Engine::Vaes256)
        done = decrypt_groups_vaes256(decrypt_key, chain, in, out, blocks);
    cbc_decrypt_aesni(decrypt_key, chain, in + 16 * done, out + 16 * done, blocks - done);
}

#else // no AES instructions on this architecture: the table code does everything

bool available(Engine engine)
{
    return engine == Engine::Table;
}

void cbc_encrypt_aesni(const AesExpandedKey &, AesBlock &, const std::uint8_t *, std::uint8_t *, std::size_t)
{
    std::abort();
}

void cbc_decrypt_hardware(Engine, const AesExpandedKey &, AesBlock &, const std::uint8_t *, std::uint8_t *, std::size_t)
{
    std::abort();
}

#endif

} // namespace yunshan::aes_engine
