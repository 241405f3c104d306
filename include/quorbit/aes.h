/** @file
 * The AES block cipher (FIPS-197) with 128-, 192- and 256-bit keys: key
 * schedules, single blocks, ECB and CBC (SP 800-38A). No padding: lengths are
 * whole 16-byte blocks.
 *
 * Round keys live in a caller's array of 68 words filled by a schedule; key
 * bytes are packed little-endian into the words. The block functions do
 * nothing unless *NR is 10, 12 or 14, which only a successful schedule sets.
 * Where the CPU has AES instructions they are used (constant time); elsewhere
 * lookup tables, whose timing depends on the data through the cache. */
#ifndef QB_AES_H
#define QB_AES_H

#include "qb_export.h"

QB_BEGIN_DECLS

#define AES_BLOCK_SIZE 16
#define AES_RK_WORDS 68
#ifndef ENCRYPT
#define ENCRYPT 0
#endif
#ifndef DECRYPT
#define DECRYPT 1
#endif

/** Encryption round keys into RK (AES_RK_WORDS words). keybits 128, 192 or 256
 * sets *NR to 10, 12 or 14; any other sets *NR to 0. */
QB_API void aes_key_en_schedule(const unsigned char* key, unsigned int keybits, unsigned int* RK, unsigned char* NR);
/** Decryption round keys into RK; *NR as for aes_key_en_schedule. */
QB_API void aes_key_de_schedule(const unsigned char* key, unsigned int keybits, unsigned int* RK, unsigned char* NR);
/** Encrypts one 16-byte block with encryption round keys. */
QB_API void aes_encrypt(const unsigned int* RK, const unsigned char* NR, const unsigned char* input,
                        unsigned char* output);
/** Decrypts one 16-byte block with decryption round keys. */
QB_API void aes_decrypt(const unsigned int* RK, const unsigned char* NR, const unsigned char* input,
                        unsigned char* output);
/** One block: mode DECRYPT (any non-zero) decrypts, ENCRYPT encrypts; RK must
 * come from the matching schedule. */
QB_API void aes_crypt_ecb(unsigned char mode, const unsigned int* RK, const unsigned char* NR, unsigned char* input,
                          unsigned char* output);
/** CBC over length bytes with iv updated in place, so calls continue one chain.
 * A length that is not a multiple of 16 does nothing at all. input and output
 * may be the same buffer. */
QB_API void aes_crypt_cbc(unsigned char mode, unsigned int length, unsigned char* iv, const unsigned int* RK,
                          const unsigned char* NR, unsigned char* input, unsigned char* output);
/** AES-128 in ECB over BlockCount blocks; 0, or 1 (nothing written) when KeyLen is not 16 bytes. */
QB_API int aes_encrypt_ecb(const unsigned char* Key, const unsigned char KeyLen, unsigned char* PlainContent,
                           unsigned char* CipherContent, const int BlockCount);
/** AES-128 ECB decryption of BlockCount blocks; 0, or 1 (nothing written) when KeyLen is not 16 bytes. */
QB_API int aes_decrypt_ecb(const unsigned char* Key, const unsigned char KeyLen, unsigned char* CipherContent,
                           unsigned char* PlainContent, const int BlockCount);

QB_END_DECLS

#endif /* QB_AES_H */
