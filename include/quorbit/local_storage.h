/** @file
 * The platform's local storage backend. Temporary files live below the root
 * given by "--storage-local-temp-store" (fixed by the first operation that
 * needs it) as `studio/<user>/<app>/<request>/<node>[/<port>]/<file>`;
 * configurations below `/global/configs/<user>/<app>/<node>[/<port>]/<file>`.
 * user, app and node are the parameters "--user-id", "--app-id", "--node-id".
 * Caller-supplied ids and names must be single path components, and every
 * path must fit 1024 bytes; anything else is refused (error line, -1 or NULL).
 * Table operations given a NULL handle log "Nul handle" and fail.
 */
#ifndef LOCAL_STORAGE_H
#define LOCAL_STORAGE_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* LS_Handle;

/** NULL when a parameter is missing or is not a single path component. */
QB_API LS_Handle ls_init(void);
/** Frees the handle and its ids; 0, or -1 for a NULL handle. */
QB_API int ls_deinit(LS_Handle hdl);
/** Writes a configuration, creating its directories; bytes written, or -1. */
QB_API int ls_save_config(LS_Handle hdl, char* port_id, char* file_name, char* buffer, int size);
/** 0 with the file as a NUL-terminated heap text (the caller frees it) and its length, or -1. */
QB_API int ls_load_config(LS_Handle hdl, char* port_id, char* file_name, char** buffer, int* size);
/** 0, or -1 when the configuration does not exist or cannot be removed. */
QB_API int ls_delete_config(LS_Handle hdl, char* port_id, char* file_name);
/** Writes a temporary file (request_id NULL: a fresh UUID). The location text
 * `studio/<user>/<app>/<request>/<node>[/<port>]` (heap), or NULL (also when the write failed). */
QB_API char* ls_save_file(LS_Handle hdl, char* request_id, char* port_id, char* file_name, char* buffer, int size);
/** Reads root/url/filename into a heap buffer (a zero byte follows the data); 0 or -1. */
QB_API int ls_load_file(LS_Handle hdl, char* url, char* filename, char** outbuffer, int* bufferlen);
/** Removes root/url/filename; 0 or -1. */
QB_API int ls_delete_file(LS_Handle hdl, char* url, char* filename);

/*
 * File operations relative to the root; the handle is ignored. A path may not
 * hold "." or ".." components.
 */

/** Copies a file below the root; 0 or -1. Root and paths are joined without a
 * separator, so paths normally start with "/" (a join naming a sibling of the root is refused). */
QB_API int ls_copy(LS_Handle hdl, char* from_path, char* to_path);
/** Removes a file or an empty directory below the root; 0 or -1. */
QB_API int ls_remove(LS_Handle hdl, char* path);
/** 0 when the path is a directory, else -1 ("" is the root itself). */
QB_API int ls_is_folder(LS_Handle hdl, char* path);
/** 0 when the path is a regular file, else -1. */
QB_API int ls_is_file(LS_Handle hdl, char* path);
/** The 16-byte MD5 digest of the file into digest; 0 or -1. */
QB_API int ls_get_storage_md5(LS_Handle hdl, char* path, char* digest);
/** *size is the file's length, 0 when it cannot be read; returns 0 (-1 for a refused path or a NULL size). */
QB_API int ls_get_storage_size(LS_Handle hdl, char* path, int* size);

QB_END_DECLS

#endif /* LOCAL_STORAGE_H */
