#pragma once
// CBC on memory blocks, behind the stream routines of aes.h. Two engines give identical bytes:
// the table-driven code, which runs everywhere, and the processor's AES instructions, used when
// the CPU has them. Exposed for the tests and the benchmark; the program uses aes.h.
#include "crypto/aes.h"

#include <cstddef>
#include <cstdint>

namespace yunshan::aes_engine {

enum class Engine { Table, Hardware };

// Whether Engine::Hardware may be used on this processor.
bool hardware_available();
// Hardware when available, else Table.
Engine best();

// `blocks` 16-byte blocks from `in` to `out` (which may be the same memory). `chain` holds the
// chaining vector on entry and the one for the following block on return.
void cbc_encrypt(Engine engine, const AesExpandedKey &encrypt_key, AesBlock &chain,
                 const std::uint8_t *in, std::uint8_t *out, std::size_t blocks);
void cbc_decrypt(Engine engine, const AesExpandedKey &decrypt_key, AesBlock &chain,
                 const std::uint8_t *in, std::uint8_t *out, std::size_t blocks);

// The hardware versions (x86 AES-NI); only call when hardware_available().
void cbc_encrypt_hw(const AesExpandedKey &encrypt_key, AesBlock &chain, const std::uint8_t *in,
                    std::uint8_t *out, std::size_t blocks);
void cbc_decrypt_hw(const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                    std::uint8_t *out, std::size_t blocks);

} // namespace yunshan::aes_engine
