// The two AES paths behind aes.h: lookup tables everywhere, AES instructions
// where the CPU has them. Both use the same round-key layout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qb::aes {

// Tests run the table path even where the instructions exist.
void force_tables(bool on);
bool hardware_in_use();

#if defined(__x86_64__) || defined(__i386__)
#define QB_AES_NI 1
// rk holds the schedule in the order the block functions use it (the
// decryption schedule already reversed and passed through InvMixColumns).
void ni_ecb_encrypt(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out, size_t blocks);
void ni_ecb_decrypt(const uint32_t* rk, int nr, const unsigned char* in, unsigned char* out, size_t blocks);
void ni_cbc_encrypt(const uint32_t* rk, int nr, unsigned char* iv, const unsigned char* in, unsigned char* out,
                    size_t blocks);
void ni_cbc_decrypt(const uint32_t* rk, int nr, unsigned char* iv, const unsigned char* in, unsigned char* out,
                    size_t blocks);
bool ni_available();
#endif

}  // namespace qb::aes
