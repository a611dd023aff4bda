// CBC with the x86 AES instructions. Only the functions below are compiled for them (target
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

} // namespace

bool hardware_available()
{
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse2");
    }();
    return available;
}

YUNSHAN_AES_TARGET void cbc_encrypt_hw(const AesExpandedKey &encrypt_key, AesBlock &chain,
                                       const std::uint8_t *in, std::uint8_t *out, std::size_t blocks)
{
    __m128i k[11];
    for (int i = 0; i < 11; ++i)
        k[i] = load(encrypt_key.data() + 4 * i);
    __m128i c = load(chain.data());
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        __m128i x = _mm_xor_si128(_mm_xor_si128(load(in), k[0]), c);
        x = _mm_aesenc_si128(x, k[1]);
        x = _mm_aesenc_si128(x, k[2]);
        x = _mm_aesenc_si128(x, k[3]);
        x = _mm_aesenc_si128(x, k[4]);
        x = _mm_aesenc_si128(x, k[5]);
        x = _mm_aesenc_si128(x, k[6]);
        x = _mm_aesenc_si128(x, k[7]);
        x = _mm_aesenc_si128(x, k[8]);
        x = _mm_aesenc_si128(x, k[9]);
        c = _mm_aesenclast_si128(x, k[10]);
        store(out, c);
    }
    store(chain.data(), c);
}

YUNSHAN_AES_TARGET void cbc_decrypt_hw(const AesExpandedKey &decrypt_key, AesBlock &chain,
                                       const std::uint8_t *in, std::uint8_t *out, std::size_t blocks)
{
    __m128i k[11];
    for (int i = 0; i < 11; ++i)
        k[i] = load(decrypt_key.data() + 4 * i);
    __m128i previous = load(chain.data());

    // Blocks decrypt independently: eight at a time keep the AES unit busy.
    constexpr std::size_t kLanes = 8;
    for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
        __m128i c[kLanes], x[kLanes];
        for (std::size_t i = 0; i < kLanes; ++i) {
            c[i] = load(in + 16 * i); // all loaded before any store: in and out may overlap
            x[i] = _mm_xor_si128(c[i], k[10]);
        }
        for (int round = 9; round >= 1; --round)
            for (std::size_t i = 0; i < kLanes; ++i)
                x[i] = _mm_aesdec_si128(x[i], k[round]);
        for (std::size_t i = 0; i < kLanes; ++i)
            x[i] = _mm_aesdeclast_si128(x[i], k[0]);
        store(out, _mm_xor_si128(x[0], previous));
        for (std::size_t i = 1; i < kLanes; ++i)
            store(out + 16 * i, _mm_xor_si128(x[i], c[i - 1]));
        previous = c[kLanes - 1];
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        const __m128i c = load(in);
        __m128i x = _mm_xor_si128(c, k[10]);
        for (int round = 9; round >= 1; --round)
            x = _mm_aesdec_si128(x, k[round]);
        x = _mm_aesdeclast_si128(x, k[0]);
        store(out, _mm_xor_si128(x, previous));
        previous = c;
    }
    store(chain.data(), previous);
}

#else // no AES instructions on this architecture: the table code does everything

bool hardware_available() { return false; }

void cbc_encrypt_hw(const AesExpandedKey &, AesBlock &, const std::uint8_t *, std::uint8_t *, std::size_t)
{
    std::abort();
}

void cbc_decrypt_hw(const AesExpandedKey &, AesBlock &, const std::uint8_t *, std::uint8_t *, std::size_t)
{
    std::abort();
}

#endif

} // namespace yunshan::aes_engine
