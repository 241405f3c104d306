// ALSA playback of buffers and WAV/raw files.
#include "alsa_output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/alsa/alsa_internal.h"
#include "sdk_logger.h"

namespace {

constexpr const char* TAG = "ALSA_OUTPUT";
// Consecutive underruns (or empty writes) without progress before giving up
// on a device that no longer plays.
constexpr int kMaxStalls = 8;
constexpr size_t kWavHeader = 44;

unsigned le16(const unsigned char* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
unsigned le32(const unsigned char* p) { return le16(p) | unsigned(le16(p + 2)) << 16; }

}  // namespace

extern "C" {

QB_API int alsa_output_open(snd_pcm_t** pcm_handle, char* device) {
    if (!pcm_handle || !device) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    *pcm_handle = nullptr;
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, device, SND_PCM_STREAM_PLAYBACK, 0);
    if (rc < 0) {
        LOGE(TAG, "unable to open pcm device: %s", snd_strerror(rc));
        return -1;
    }
    if ((rc = qb::media::configure_pcm(pcm, false, nullptr)) < 0 || (rc = snd_pcm_prepare(pcm)) < 0) {
        LOGE(TAG, "unable to set hw parameters: %s", snd_strerror(rc));
        snd_pcm_close(pcm);
        return -1;
    }
    *pcm_handle = pcm;
    return 0;
}

QB_API int alsa_output_write(snd_pcm_t* pcm_handle, char* buffer, int length) {
    if (!pcm_handle || (!buffer && length > 0)) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    int done = 0, stalls = 0;
    while (length - done >= SAMPLE_BYTE_WIDTH) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_handle, buffer + done, snd_pcm_uframes_t((length - done) / 2));
        if (n == -EPIPE || n == 0) {
            if (n == -EPIPE) LOGE(TAG, "under run, user too slow.\n");
            if (++stalls > kMaxStalls) return -1;
            snd_pcm_prepare(pcm_handle);
            continue;
        }
        if (n < 0) {
            LOGE(TAG, "write failed: %s", snd_strerror(int(n)));
            return -1;
        }
        stalls = 0;
        done += int(n) * 2;
    }
    return 0;
}

QB_API int alsa_output_write_from_file(snd_pcm_t* pcm_handle, char* filename) {
    if (!pcm_handle) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    int result = -1;
    FILE* f = filename ? fopen(filename, "rb") : nullptr;
    // Per call, so concurrent playbacks on different devices do not share it.
    auto* buf = static_cast<unsigned char*>(f ? malloc(CHUNK) : nullptr);
    if (buf) {
        result = 0;
        bool first = true;
        size_t n;
        while ((n = fread(buf, 1, CHUNK, f)) > 0) {
            // Only the file's start can be a header; later audio may happen to spell "RIFF".
            if (first && n >= kWavHeader && memcmp(buf, "RIFF", 4) == 0) {
                LOGD(TAG, "bytelength=%d channels=%d sample_rate=%d\n", int(le16(buf + 16)), int(le16(buf + 22)),
                     int(le32(buf + 24)));
                memset(buf, 0, kWavHeader);
            }
            first = false;
            if (alsa_output_write(pcm_handle, reinterpret_cast<char*>(buf), int(n)) != 0) {
                result = -1;
                break;
            }
        }
        if (ferror(f)) {
            LOGE(TAG, "%s file read err\n", filename);
            result = -1;
        }
        free(buf);
    }
    if (f) fclose(f);
    LOGE(TAG, "............Play end\n");
    return result;
}

QB_API int alsa_output_close(snd_pcm_t* pcm_handle) {
    if (!pcm_handle) {
        LOGE(TAG, "Null handle");
        return -1;
    }
    snd_pcm_drain(pcm_handle);
    snd_pcm_close(pcm_handle);
    return 0;
}

}  // extern "C"
