// Internal pieces of the ALSA capture and playback code shared with the tests.
#pragma once

#include <alsa/asoundlib.h>

#include "alsa_input.h"

namespace qb::media {

constexpr int kBlockBytes = SAMPLE_FRAMES * SAMPLE_BYTE_WIDTH * SOUND_CHANNEL;

// One capture handle's blocks: the read target and the block handed out.
struct CaptureBlock {
    char sound_buffer[kBlockBytes];
    char sound_buffer_single[kBlockBytes];
};

// Publishes a read of `frames` frames from block->sound_buffer, filling a
// short read with silence so no stale audio is delivered as new.
void capture_publish(CaptureBlock* block, long frames, char** buffer, int* length);

// Interleaved S16_LE mono at the nearest rate to 16 kHz; capture also asks
// for SAMPLE_FRAMES periods. Returns 0 or a negative ALSA error.
int configure_pcm(snd_pcm_t* pcm, bool capture, snd_pcm_uframes_t* buffer_frames);

}  // namespace qb::media
