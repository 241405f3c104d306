/** @file
 * Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
 */
#ifndef QB_BASE64_H
#define QB_BASE64_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Encodes the strlen(sourcedata) bytes of sourcedata, NUL-terminated; base64
 * needs 4 * ceil(n / 3) + 1 bytes. Returns 0. */
QB_API int sdk_base64_encode(const unsigned char* sourcedata, char* base64);
/** Decodes up to the terminating NUL and writes a NUL after the output bytes;
 * dedata needs strlen(base64) / 4 * 3 + 3 bytes (see SDK_BASE64_DECODED_MAX).
 * Decoding stops at the first character outside the alphabet; a short final
 * group yields the bytes its characters complete. Returns 0. */
QB_API int sdk_base64_decode(const char* base64, unsigned char* dedata);

/** Room that sdk_base64_decode needs for an input of len characters. */
#define SDK_BASE64_DECODED_MAX(len) ((len) / 4 * 3 + 3)

QB_END_DECLS

#endif /* QB_BASE64_H */
