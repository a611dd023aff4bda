#pragma once
// CBC on memory blocks, behind the stream routines of aes.h. Two engines give identical bytes:
// the table-driven code, which runs everywhere, and the processor's AES instructions, used when
// the CPU has them. Exposed for the tests and the benchmark; the program uses aes.h.
#include "crypto/aes.h"

#include <cstddef>
#include <cstdint>

namespace yunshan::aes_engine {

// Table: the portable table-driven code. Aesni: the AES instructions on one block at a time.
// Vaes256 / Vaes512: the vector forms of those instructions on 2 or 4 blocks per register; they
// only speed up decryption (CBC encryption chains every block to the one before), so encryption
// with them runs the Aesni loop.
enum class Engine { Table, Aesni, Vaes256, Vaes512 };

// Whether this processor (and its operating system) can run the engine.
bool available(Engine engine);
// The fastest available engine.
Engine best();

// `blocks` 16-byte blocks from `in` to `out` (which may be the same memory). `chain` holds the
// chaining vector on entry and the one for the following block on return. The engine must be
// available.
void cbc_encrypt(Engine engine, const AesExpandedKey &encrypt_key, AesBlock &chain, const std::uint8_t *in,
                 std::uint8_t *out, std::size_t blocks);
void cbc_decrypt(Engine engine, const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                 std::uint8_t *out, std::size_t blocks);

// The hardware loops (aes_hardware.cpp), called by the two functions above.
void cbc_encrypt_aesni(const AesExpandedKey &encrypt_key, AesBlock &chain, const std::uint8_t *in, std::uint8_t *out,
                       std::size_t blocks);
void cbc_decrypt_hardware(Engine engine, const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                          std::uint8_t *out, std::size_t blocks);

} // namespace yunshan::aes_engine
