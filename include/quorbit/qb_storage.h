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
QB_API int qb_storage_deinit(QB_Storage hdl);

/** port_id may be NULL. Ids and names are single path components: "/", ".",
 * "..", empty texts and CR/LF are refused. */
QB_API int qb_config_save(QB_Storage hdl, char* port_id, char* file_name, char* buffer, int size);
/** 0 with a NUL-terminated heap text and its length; -1 when there is none. */
QB_API int qb_config_load(QB_Storage hdl, char* port_id, char* file_name, char** buffer, int* size);
QB_API int qb_config_delete(QB_Storage hdl, char* port_id, char* file_name);

/** request_id NULL means a fresh UUID; returns the location text (heap) or NULL. */
QB_API char* qb_tmp_file_save(QB_Storage hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                              int size);
/** url is a location text from qb_tmp_file_save (it starts with "studio/"). */
QB_API int qb_tmp_file_load(QB_Storage hdl, char* url, char* filename, char** outbuffer, int* bufferlen);
QB_API int qb_tmp_file_delete(QB_Storage hdl, char* url, char* filename);

QB_END_DECLS

#endif /* QB_STORAGE_H */
