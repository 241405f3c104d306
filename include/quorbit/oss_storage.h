/** @file
 * The Alibaba Cloud OSS storage backend ("--storage-type" oss). Objects live
 * in the bucket "--storage-oss-bucket-name" at the endpoint
 * "--storage-oss-endpoint" ([http://|https://]host[:port]; http when no
 * scheme is given), signed with "--storage-oss-access-id" and
 * "--storage-oss-access-key":
 *   `studio/<user>/configs/<app>/<node>[/<port>]/<file>`
 *   `studio/<user>/tmp/<app>/<request>/<node>[/<port>]/<file>`
 * A domain-name endpoint is addressed as `<bucket>.<host>`; an IP address
 * endpoint (a private deployment, a local test server) as `<host>/<bucket>`.
 * Ids and names follow the rules of local_storage.h. Results: 0 or -1, the
 * location text or NULL; each operation logs `"<name> succeeded"` (debug) or
 * `"<name> failed"` (error). Loaded buffers carry a zero byte after the data
 * (not counted). A NULL handle logs "OSS handle NULL" and fails. One thread
 * at a time per handle; handles are independent of each other.
 */
#ifndef OSS_STORAGE_H
#define OSS_STORAGE_H

#include "qb_export.h"
#include "qb_storage_impl.h"

QB_BEGIN_DECLS

typedef void* OSS_Handle;

/** The constant table oss_storage_impl; never written through. */
QB_API qb_storage_impl_t* qb_storage_get_oss(void);

/** NULL when a parameter is missing or invalid. */
QB_API OSS_Handle oss_init(void);
/** Frees the handle and its memory pool; 0, or -1 for NULL. */
QB_API int oss_deinit(OSS_Handle h);
/** Puts size bytes as the port's configuration file_name (port_id NULL: the node); 0 or -1. */
QB_API int oss_save_config(OSS_Handle h, char* port_id, char* file_name, char* buffer, int size);
/** Gets a configuration into a heap buffer and its length; 0 or -1. */
QB_API int oss_load_config(OSS_Handle h, char* port_id, char* file_name, char** buffer, int* size);
/** Deletes a configuration object; 0 or -1. */
QB_API int oss_delete_config(OSS_Handle h, char* port_id, char* file_name);
/** Puts a temporary file (request_id NULL: a fresh UUID). The location text
 * `studio/<user>/tmp/<app>/<request>/<node>[/<port>]` (heap), or NULL. */
QB_API char* oss_save_file(OSS_Handle h, char* request_id, char* port_id, char* file_name, char* buffer, int size);
/** Gets object url/filename into a heap buffer and its length; 0 or -1. */
QB_API int oss_load_file(OSS_Handle h, char* url, char* filename, char** outbuffer, int* bufferlen);
/** Deletes object url/filename; 0 or -1. */
QB_API int oss_delete_file(OSS_Handle h, char* url, char* filename);

QB_END_DECLS

#endif /* OSS_STORAGE_H */
