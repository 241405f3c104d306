// ALSA capture in fixed 20 ms blocks.
#include "alsa_input.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/alsa/alsa_internal.h"
#include "sdk_logger.h"
#include "sdk_os.h"

namespace {

constexpr const char* TAG = "ALSA_INPUT";

// Capture blocks per PCM handle; the C interface has no slot for them.
struct Entry {
    snd_pcm_t* pcm;
    qb::media::CaptureBlock block;
    Entry* next;
};

os_mutex g_lock = {PTHREAD_MUTEX_INITIALIZER};
Entry* g_entries = nullptr;

// The handle's blocks, created on first use (also for a PCM opened elsewhere).
qb::media::CaptureBlock* blocks_of(snd_pcm_t* pcm) {
    os_mutex_lock(&g_lock);
    Entry* e = g_entries;
    while (e && e->pcm != pcm) e = e->next;
    if (!e && (e = static_cast<Entry*>(calloc(1, sizeof(Entry))))) {
        e->pcm = pcm;
        e->next = g_entries;
        g_entries = e;
    }
    os_mutex_unlock(&g_lock);
    return e ? &e->block : nullptr;
}

void forget_blocks(snd_pcm_t* pcm) {
    os_mutex_lock(&g_lock);
    for (Entry** link = &g_entries; *link; link = &(*link)->next) {
        if ((*link)->pcm == pcm) {
            Entry* dead = *link;
            *link = dead->next;
            free(dead);
            break;
        }
    }
    os_mutex_unlock(&g_lock);
}

}  // namespace

namespace qb::media {

void capture_publish(CaptureBlock* block, long frames, char** buffer, int* length) {
    if (frames < SAMPLE_FRAMES) {
        LOGE(TAG, "short read, read %d frames/n", int(frames));
        size_t got = size_t(frames < 0 ? 0 : frames) * SAMPLE_BYTE_WIDTH * SOUND_CHANNEL;
        memset(block->sound_buffer + got, 0, sizeof block->sound_buffer - got);
    }
    memcpy(block->sound_buffer_single, block->sound_buffer, sizeof block->sound_buffer);
    *buffer = block->sound_buffer_single;
    *length = kBlockBytes;
}

int configure_pcm(snd_pcm_t* pcm, bool capture, snd_pcm_uframes_t* buffer_frames) {
    snd_pcm_hw_params_t* params = nullptr;
    int rc = snd_pcm_hw_params_malloc(&params);
    if (rc < 0) return rc;
    unsigned int rate = SAMPLE_RATE;
    // Every setting is checked: a refused one would otherwise leave the
    // device free to pick, say, another sample format.
    if ((rc = snd_pcm_hw_params_any(pcm, params)) >= 0 &&
        (rc = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
        (rc = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE)) >= 0 &&
        (rc = snd_pcm_hw_params_set_channels(pcm, params, SOUND_CHANNEL)) >= 0 &&
        (rc = snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr)) >= 0) {
        if (capture) snd_pcm_hw_params_set_periods(pcm, params, SAMPLE_FRAMES, 0);  // a wish only
        rc = snd_pcm_hw_params(pcm, params);
    }
    if (rc >= 0 && buffer_frames) snd_pcm_hw_params_get_buffer_size(params, buffer_frames);
    snd_pcm_hw_params_free(params);
    return rc < 0 ? rc : 0;
}

}  // namespace qb::media

extern "C" {

QB_API int alsa_input_init(snd_pcm_t** handle, char* input_device) {
    if (!handle || !input_device) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    *handle = nullptr;
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, input_device, SND_PCM_STREAM_CAPTURE, 0);
    if (rc < 0) {
        fprintf(stderr, "unable to open pcm device: %s/n", snd_strerror(rc));
        return -1;
    }
    snd_pcm_uframes_t frames = 0;
    rc = qb::media::configure_pcm(pcm, true, &frames);
    if (rc < 0) {
        fprintf(stderr, "unable to set hw parameters: %s/n", snd_strerror(rc));
        snd_pcm_close(pcm);
        return -1;
    }
    LOGD(TAG, "PCM handle name = '%s'", snd_pcm_name(pcm));
    LOGD(TAG, "buffer size = %d frames", int(frames));
    if ((rc = snd_pcm_prepare(pcm)) < 0) LOGD(TAG, "cannot prepare audio interface for use (%s)\n", snd_strerror(rc));
    qb::media::CaptureBlock* block = blocks_of(pcm);
    if (!block) {
        snd_pcm_close(pcm);
        return -1;
    }
    memset(block, 0, sizeof *block);
    *handle = pcm;
    return 0;
}

QB_API int alsa_input_get(snd_pcm_t* handle, char** buffer, int* length) {
    if (!handle || !buffer || !length) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    qb::media::CaptureBlock* block = blocks_of(handle);
    if (!block) return -1;
    snd_pcm_sframes_t rc = snd_pcm_readi(handle, block->sound_buffer, SAMPLE_FRAMES);
    if (rc == -EPIPE) {
        LOGD(TAG, "overrun\n");
        snd_pcm_prepare(handle);
        return -1;
    }
    if (rc < 0) {
        LOGD(TAG, "rc=%d\n", int(rc));
        return -1;
    }
    qb::media::capture_publish(block, long(rc), buffer, length);
    return 0;
}

QB_API int alsa_input_flush(snd_pcm_t* handle) {
    if (!handle) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    LOGD(TAG, "Alsa flush buffer");
    snd_pcm_drain(handle);
    snd_pcm_prepare(handle);
    return 0;
}

QB_API int alsa_input_deinit(snd_pcm_t* handle) {
    if (!handle) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    snd_pcm_drain(handle);
    snd_pcm_close(handle);
    forget_blocks(handle);
    return 0;
}

}  // extern "C"
