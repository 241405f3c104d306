/** @file
 * ALSA capture of 16 kHz mono signed 16-bit audio in 20 ms blocks.
 *
 * Each capture handle has its own block buffer: a successful alsa_input_get
 * returns the same pointer every time for one handle, valid until the next
 * read on that handle (or its deinit). A device that cannot be opened or
 * configured is reported (standard error) and refused with -1.
 */
#ifndef QB_ALSA_INPUT_H
#define QB_ALSA_INPUT_H

#include "qb_export.h"

QB_BEGIN_DECLS

#define RECORD_MS 20
#define SOUND_CHANNEL 1
#define SAMPLE_RATE 16000
#define SAMPLE_FRAMES (SAMPLE_RATE * RECORD_MS / 1000) /**< 320 frames = 640 bytes per block */
#define SAMPLE_BYTE_WIDTH 2
#define ALSA_DEVICE "hw:2,0"
#define PCM_DEVICE "default"
#define CHUNK (128 * 1024) /**< file playback buffer */

/** Same declaration as `<alsa/asoundlib.h>`, so callers need no ALSA headers. */
typedef struct _snd_pcm snd_pcm_t;

/** Opens and prepares capture on input_device; *handle is NULL on failure. Returns 0 or -1. */
QB_API int alsa_input_init(snd_pcm_t** handle, char* input_device);
/** Reads one block: *buffer and *length (640) on 0; -1 on overrun (device re-prepared) or error.
   A short read is completed with silence. */
QB_API int alsa_input_get(snd_pcm_t* handle, char** buffer, int* length);
/** Drains pending frames and prepares the device again; 0, or -1 for a NULL handle. */
QB_API int alsa_input_flush(snd_pcm_t* handle);
/** Drains and closes the device and releases its block buffer. */
QB_API int alsa_input_deinit(snd_pcm_t* handle);

QB_END_DECLS

#endif /* QB_ALSA_INPUT_H */
