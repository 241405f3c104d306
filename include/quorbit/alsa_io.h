/** @file
 * One capture and one playback device behind one handle.
 */
#ifndef QB_ALSA_IO_H
#define QB_ALSA_IO_H

#include "alsa_input.h"
#include "alsa_output.h"
#include "qb_export.h"

QB_BEGIN_DECLS

typedef struct alsa_handle {
    snd_pcm_t* input_handle;  /**< capture, or NULL */
    snd_pcm_t* output_handle; /**< playback, or NULL */
} alsa_handle;

/** Opens capture and/or playback for the non-NULL names. NULL (after an error line) when the
   capture device cannot be opened or memory runs out; a playback device that fails to open
   stays NULL in the handle and alsa_write then returns -1. */
QB_API void* alsa_init(char* input_device, char* output_device);
/** Closes both devices and frees the handle; it must not be used afterwards. */
QB_API int alsa_deinit(void* handle);
/** alsa_input_get on the capture device; -1 when the handle has none. */
QB_API int alsa_read(void* handle, unsigned char** buffer, int* length);
/** alsa_output_write on the playback device; -1 when the handle has none. */
QB_API int alsa_write(void* handle, unsigned char* buffer, int length);
/** alsa_input_flush on the capture device; -1 when the handle has none. */
QB_API int alsa_flush(void* handle);

QB_END_DECLS

#endif /* QB_ALSA_IO_H */
