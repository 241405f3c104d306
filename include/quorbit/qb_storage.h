/** @file
 * Storage front end: configuration documents of a component's ports and
 * temporary files handed to the next node by a location text. The backend is
 * chosen once by qb_storage_init: on the platform by "--storage-type"
 * ("local", "minio" or "oss", each if the build carries it; see sdk_config.h),
 * stand-alone a backend that writes under the working directory. A NULL
 * handle is refused with the error line "Null handle" and -1 (NULL from
 * qb_tmp_file_save). Buffers handed out by the loads are released with free().
 */
#ifndef QB_STORAGE_H
#define QB_STORAGE_H

#include "qb_export.h"

QB_BEGIN_DECLS

typedef void* QB_Storage;

typedef enum {
    QB_STORAGE_FAKE = 0,
    QB_STORAGE_LOCAL = 1,
    QB_STORAGE_MINIO = 2,
    QB_STORAGE_OSS = 3
} qb_storage_type;

/** NULL (after an error line) when the storage type is absent, unknown or not
 * available in this build. A backend whose own set-up failed still yields a
 * record; its operations then fail. */
QB_API QB_Storage qb_storage_init(void);
/** Releases the backend and the record; 0, or -1 for a NULL handle. */
QB_API int qb_storage_deinit(QB_Storage hdl);

/* port_id may be NULL. Ids and names are single path components: "/", ".",
 * "..", empty texts and CR/LF are refused. */

/** Stores size bytes as configuration file_name of the port (NULL: the node);
 * the local backends return the bytes written, the others 0; -1 on failure. */
QB_API int qb_config_save(QB_Storage hdl, char* port_id, char* file_name, char* buffer, int size);
/** Loads a configuration: 0 with a NUL-terminated heap text and its length; -1 when there is none. */
QB_API int qb_config_load(QB_Storage hdl, char* port_id, char* file_name, char** buffer, int* size);
/** Deletes a configuration; 0, or -1 when it does not exist or cannot be removed. */
QB_API int qb_config_delete(QB_Storage hdl, char* port_id, char* file_name);

/** Saves a temporary file for the next node. request_id NULL means a fresh UUID;
 * returns the location text (heap, the caller frees it) or NULL. */
QB_API char* qb_tmp_file_save(QB_Storage hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                              int size);
/** Loads temporary file filename at url, a location text from qb_tmp_file_save
 * (it starts with "studio/"): 0 with a heap buffer and its length, or -1. */
QB_API int qb_tmp_file_load(QB_Storage hdl, char* url, char* filename, char** outbuffer, int* bufferlen);
/** Deletes temporary file filename at location url; 0 or -1. */
QB_API int qb_tmp_file_delete(QB_Storage hdl, char* url, char* filename);

QB_END_DECLS

#endif /* QB_STORAGE_H */
