/** @file
 * MD5 (RFC 1321) with the RFC's streaming interface plus string and file
 * helpers. Digests are 16 raw bytes; hexadecimal rendering is the caller's.
 * Nothing here logs.
 */
#ifndef SDK_MD5_H
#define SDK_MD5_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef unsigned int UINT4;

typedef struct {
    UINT4 state[4];           /**< chaining words A, B, C, D */
    UINT4 count[2];           /**< message length in bits, low word first */
    unsigned char buffer[64]; /**< partial input block */
} MD5_CTX;

/** Starts a digest. */
QB_API void MD5Init(MD5_CTX* context);
/** Adds inputLen bytes to the digest. */
QB_API void MD5Update(MD5_CTX* context, unsigned char* input, unsigned int inputLen);
/** Pads, writes the digest and clears the context. */
QB_API void MD5Final(unsigned char* digest, MD5_CTX* context);
/** Adds the string's bytes without its terminator. */
QB_API void MD5UpdaterString(MD5_CTX* context, const char* string);
/** Adds a whole file without finalising. 0, or -1 when the file cannot be
 * opened or read (the context is then unchanged). */
QB_API int MD5FileUpdateFile(MD5_CTX* context, char* filename);
/** The 16-byte digest of the string (without its terminator) into digest. */
QB_API void SDK_MD5String(char* string, unsigned char* digest);
/** The 16-byte digest of a whole file into digest; 0, or -1 when the file
 * cannot be opened or read (digest untouched). */
QB_API int SDK_MD5File(char* filename, unsigned char* digest);

QB_END_DECLS

#endif /* SDK_MD5_H */
