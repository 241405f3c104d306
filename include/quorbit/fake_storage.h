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

QB_API void* fake_storage_init(void);
QB_API int fake_storage_deinit(void* hdl);
QB_API int fake_storage_save_config(void* hdl, char* port_id, char* file_name, char* buffer, int size);
QB_API int fake_storage_load_config(void* hdl, char* port_id, char* file_name, char** buffer, int* size);
QB_API int fake_storage_delete_config(void* hdl, char* port_id, char* file_name);
QB_API char* fake_storage_save_file(void* hdl, char* request_id, char* port_id, char* file_name, char* buffer,
                                    int size);
QB_API int fake_storage_load_file(void* hdl, char* url, char* filename, char** outbuffer, int* bufferlen);
QB_API int fake_storage_delete_file(void* hdl, char* url, char* filename);

QB_END_DECLS

#endif /* FAKE_STORAGE_H */
