/** @file
 * The data channel module contract: one constant operation table per
 * module, the per-channel records, and the shared configuration record.
 */
#ifndef DATA_CHANNEL_IMPL_H
#define DATA_CHANNEL_IMPL_H

#include "data_channel.h"
#include "qb_export.h"

QB_BEGIN_DECLS

struct dc_callback;

typedef struct dc_impl {
    const char* name;
    /** Stores the transport handle through handle (left NULL on failure). */
    int (*init)(void** handle, struct dc_callback* cb, char* config_file);
    int (*recv)(void* handle, char** data, int* size); /**< may be NULL */
    int (*send)(void* handle, char* data, int size);   /**< may be NULL */
} dc_impl_t;

typedef struct dc_handle {
    int type;
    void* handle;
    dc_impl_t* impl;
} dc_handle;

typedef struct dc_callback {
    DC_Callback_Func callback;
    void* param;
    dc_handle* handle;
} dc_callback;

/** Appends the table to the registry (no duplicate check). */
QB_API void DC_module_register(dc_impl_t* impl);

QB_END_DECLS

#endif /* DATA_CHANNEL_IMPL_H */
