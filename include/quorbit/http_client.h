/** @file
 * Blocking HTTP(S) POST of a JSON text with libcurl; the answer's body comes
 * back as a NUL-terminated heap text that the caller frees.
 *
 * - The URL is `"<domain>:<port><url>"`: domain carries the scheme and the host
 *   ("http://127.0.0.1"), url the path and query ("/rpc/invoke").
 * - Headers "Accept: application/json", "Content-Type: application/json",
 *   "charsets: utf-8" and a fixed browser user agent.
 * - TLS certificates and host names are NOT verified: do not send secrets to
 *   a host reached over a network you do not trust.
 * - Any transfer error (name look-up, connect, time-out, TLS, a body cut off)
 *   gives NULL; an HTTP error status still gives its body. The status code is
 *   not examined.
 * - Safe from several threads at once; libcurl is initialised once per process
 *   and never cleaned up by these calls.
 */
#ifndef HTTP_CLIENT_H
#define HTTP_CLIENT_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** The capture block of SDK_HTTP_Client_Post2. */
typedef struct post_result_data {
    char* ptr;      /**< zero-filled, total_size bytes */
    int total_size; /**< the caller's buffer_size */
    int cur_size;   /**< bytes stored so far */
} post_result_data;

/** POSTs post_data and returns the answer's body (heap, the caller frees it) or NULL.
 * 10-second limit for the whole transfer; the answer is returned whole, of
 * any size (memory permitting). NULL also when the answer's body is empty. */
QB_API char* SDK_HTTP_Client_Post(char* domain, int port, char* url, char* post_data);
/** POSTs post_data and returns the body in a zero-filled heap block of buffer_size bytes
 * (the caller frees it). timeout seconds for the whole transfer (0: none). The answer is cut
 * silently to buffer_size - 1 bytes. NULL for a buffer_size below 1 or a
 * negative timeout; an
 * all-zero block when libcurl cannot make a handle. */
QB_API char* SDK_HTTP_Client_Post2(char* domain, int port, char* url, char* post_data, int buffer_size,
                                   int timeout);

QB_END_DECLS

#endif /* HTTP_CLIENT_H */
