/** @file
 * ALSA playback of 16 kHz mono signed 16-bit audio from buffers or files.
 * The device format is fixed; a WAV file's own format is logged, not applied.
 */
#ifndef QB_ALSA_OUTPUT_H
#define QB_ALSA_OUTPUT_H

#include "alsa_input.h"
#include "qb_export.h"

QB_BEGIN_DECLS

/** Opens, configures and prepares playback; on failure *pcm_handle is NULL and the result -1. */
QB_API int alsa_output_open(snd_pcm_t** pcm_handle, char* device);
/** Plays every complete sample of buffer (an odd last byte is left). Underruns re-prepare the
   device a bounded number of times. Returns 0, or -1 when the device fails. */
QB_API int alsa_output_write(snd_pcm_t* pcm_handle, char* buffer, int length);
/** Plays a raw or WAV file (a WAV header plays as silence). Returns 0, or -1 when the file cannot
   be opened or read or the device fails. */
QB_API int alsa_output_write_from_file(snd_pcm_t* pcm_handle, char* filename);
/** Drains what is queued, then closes the device; 0, or -1 for a NULL handle. */
QB_API int alsa_output_close(snd_pcm_t* pcm_handle);

QB_END_DECLS

#endif /* QB_ALSA_OUTPUT_H */
