/** @file
 * The contract every storage backend fills: one constant table of eight
 * operations, in this slot order. The front end (qb_storage.h) only
 * dispatches to it.
 */
#ifndef QB_STORAGE_IMPL_H
#define QB_STORAGE_IMPL_H

#include "qb_export.h"
#include "qb_storage.h"
#include "sdk_config.h"

QB_BEGIN_DECLS

typedef void* Storage_Impl_Handle;

typedef struct qb_storage_impl {
    Storage_Impl_Handle (*storage_init)(void);
    int (*storage_deinit)(Storage_Impl_Handle h);
    int (*config_save)(Storage_Impl_Handle h, char* port_id, char* file_name, char* buffer, int size);
    int (*config_load)(Storage_Impl_Handle h, char* port_id, char* file_name, char** buffer, int* size);
    int (*config_delete)(Storage_Impl_Handle h, char* port_id, char* file_name);
    char* (*tmp_file_save)(Storage_Impl_Handle h, char* request_id, char* port_id, char* file_name, char* buffer,
                           int size);
    int (*tmp_file_load)(Storage_Impl_Handle h, char* url, char* filename, char** outbuffer, int* bufferlen);
    int (*tmp_file_delete)(Storage_Impl_Handle h, char* url, char* filename);
} qb_storage_impl_t;

/** The record behind QB_Storage. */
typedef struct qb_storage {
    int type;                   /**< a qb_storage_type value */
    Storage_Impl_Handle handle; /**< NULL is valid for the stand-alone backend */
    qb_storage_impl_t* impl;
} qb_storage;

#ifdef ENABLE_QB_STORAGE_LOCAL
/** The local backend's constant table (local_storage_impl); never written through. */
QB_API qb_storage_impl_t* qb_storage_get_local(void);
#endif
/** The stand-alone backend's constant table (fake_storage_impl); never written through. */
QB_API qb_storage_impl_t* qb_storage_get_fake(void);

QB_END_DECLS

#endif /* QB_STORAGE_IMPL_H */
