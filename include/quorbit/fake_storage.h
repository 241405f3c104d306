/** @file
 * The stand-alone storage backend: everything below the working directory,
 * temporary files as `studio/<request>[/<port>]/<file>`, configurations as
 * `configs[/<port>]/<file>`. It has no handle (init returns NULL) and ignores
 * the one it is given. Ids and names follow the rules of local_storage.h.
 */
#ifndef FAKE_STORAGE_H
#define FAKE_STORAGE_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Always NULL: the backend keeps no state. */
QB_API void* fake_storage_init(void);
/** Nothing to release; returns 0. */
QB_API int fake_storage_deinit(void* hdl);
/** Writes `configs[/<port>]/<file>`, creating its directories; bytes written, or -1. */
QB_API int fake_storage_save_config(void* hdl, char* port_id, char* file_name, char* buffer, int size);
/** 0 with the file as a NUL-terminated heap text (the caller frees it) and its length, or -1. */
QB_API int fake_storage_load_config(void* hdl, char* port_id, char* file_name, char** buffer, int* size);
/** 0, or -1 when the configuration does not exist or cannot be removed. */
QB_API int fake_storage_delete_config(void* hdl, char* port_id, char* file_name);
/** Writes `studio/<request>[/<port>]/<file>` (request_id NULL: a fresh UUID); the location
 * text `studio/<request>[/<port>]` (heap), or NULL (also when the write failed). */
QB_API char* fake_storage_save_file(void* hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                                    int size);
/** Reads url/filename into a heap buffer (a zero byte follows the data); 0 or -1. */
QB_API int fake_storage_load_file(void* hdl, char* url, char* filename, char** outbuffer, int* bufferlen);
/** Removes url/filename; 0 or -1. */
QB_API int fake_storage_delete_file(void* hdl, char* url, char* filename);

QB_END_DECLS

#endif /* FAKE_STORAGE_H */
