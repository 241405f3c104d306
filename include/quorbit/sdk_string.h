/** @file
 * String helpers: character set conversion, substring replacement, integer to text.
 */
#ifndef SDK_STRING_H
#define SDK_STRING_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** iconv of inlen bytes into outbuf, which is zero-filled first; the converted
 * length is not returned, so leave room for a terminator. 0 or -1 (logged). */
QB_API int sdk_code_convert(char* from_charset, char* to_charset, char* inbuf, int inlen, char* outbuf, int outlen);
/** New heap string with every non-overlapping sub (left to right) replaced;
 * a copy of str when sub is NULL or empty; NULL when memory runs out. */
QB_API char* sdk_str_replace(const char* str, const char* sub, const char* replace);
/** value in base |radix| (2..36, digits above 9 upper case) into str (room for
 * 66 bytes). A negative radix reads value as signed. Any other radix writes "". */
QB_API char* sdk_str_itoa(unsigned long long value, char* str, int radix);
/** value in decimal in a thread-local 64-byte buffer that the next call on the
 * same thread overwrites. */
QB_API char* sdk_itoa(int value);

QB_END_DECLS

#endif /* SDK_STRING_H */
