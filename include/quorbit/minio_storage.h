/** @file
 * The MinIO storage backend ("--storage-type" minio). Every operation runs
 * one command line of the MinIO client `mc` through the shell, with a local
 * go-between file in the temporary directory (os_temp_dir) that is removed
 * whatever the outcome. minio_init registers the server with
 * `"mc config host add <bucket> <endpoint> <access key> <secret key>"`, where
 * `<bucket>` is "--storage-minio-bucket-name" (the alias under which mc knows
 * the server); objects live in the bucket "quorbit" on that server:
 *   `<bucket>/quorbit/studio/<user>/configs/<app>/<node>[/<port>]/<file>`
 *   `<bucket>/quorbit/studio/<user>/tmp/<app>/<request>/<node>[/<port>]/<file>`
 * Every argument reaches mc verbatim (quoted for the shell). Ids and names
 * follow the rules of local_storage.h. Results: 0 or -1, the location text or
 * NULL. Loaded buffers carry a zero byte after the data (not counted). A NULL
 * handle (for example after a failed registration) logs "Null handle" and
 * fails. Not for concurrent use.
 */
#ifndef MINIO_STORAGE_H
#define MINIO_STORAGE_H

#include "qb_export.h"
#include "qb_storage_impl.h"

QB_BEGIN_DECLS

typedef void* Minio_Handle;

/** The constant table minio_storage_impl; never written through. */
QB_API qb_storage_impl_t* qb_storage_get_minio(void);

/** NULL when a parameter is missing or mc does not report the registration
 * "successfully". */
QB_API Minio_Handle minio_init(void);
/** Frees the handle and its parameters; 0 (also for NULL). */
QB_API int minio_deinit(Minio_Handle h);
/** Uploads size bytes as the port's configuration file_name (port_id NULL: the node); 0 or -1. */
QB_API int minio_save_config(Minio_Handle h, char* port_id, char* file_name, char* buffer, int size);
/** Downloads a configuration into a heap buffer and its length; 0 or -1. */
QB_API int minio_load_config(Minio_Handle h, char* port_id, char* file_name, char** buffer, int* size);
/** Removes a configuration object; 0 or -1. */
QB_API int minio_delete_config(Minio_Handle h, char* port_id, char* file_name);
/** Uploads a temporary file (request_id NULL: a fresh UUID). The location text
 * `studio/<user>/tmp/<app>/<request>/<node>[/<port>]` (heap), or NULL. */
QB_API char* minio_save_file(Minio_Handle h, char* request_id, char* port_id, char* file_name, char* buffer,
                             int size);
/** Downloads object url/filename into a heap buffer and its length; 0 or -1. */
QB_API int minio_load_file(Minio_Handle h, char* url, char* filename, char** outbuffer, int* bufferlen);
/** Removes object url/filename; 0 or -1. */
QB_API int minio_delete_file(Minio_Handle h, char* url, char* filename);

QB_END_DECLS

#endif /* MINIO_STORAGE_H */
