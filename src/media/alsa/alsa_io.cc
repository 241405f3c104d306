// Front end pairing one capture and one playback device.
#include "alsa_io.h"

#include <cstdlib>

#include "sdk_logger.h"
#include "sdk_os.h"

namespace {

constexpr const char* TAG = "ALSA_IO";

alsa_handle* as_handle(void* handle) {
    if (!handle) LOGE(TAG, "Null handle");
    return static_cast<alsa_handle*>(handle);
}

}  // namespace

extern "C" {

QB_API void* alsa_init(char* input_device, char* output_device) {
    auto* h = static_cast<alsa_handle*>(os_zalloc(sizeof(alsa_handle)));
    if (!h) return nullptr;
    // A capture device that cannot be opened fails the whole init (the caller
    // asked to record); a playback device that fails stays NULL and its calls
    // return -1.
    if (input_device && alsa_input_init(&h->input_handle, input_device) != 0) {
        LOGE(TAG, "Capture device %s cannot be opened", input_device);
        os_free(h);
        return nullptr;
    }
    if (output_device) alsa_output_open(&h->output_handle, output_device);
    return h;
}

QB_API int alsa_deinit(void* handle) {
    alsa_handle* h = as_handle(handle);
    if (!h) return -1;
    if (h->input_handle) alsa_input_deinit(h->input_handle);
    if (h->output_handle) alsa_output_close(h->output_handle);
    os_free(h);
    return 0;
}

QB_API int alsa_read(void* handle, unsigned char** buffer, int* length) {
    alsa_handle* h = as_handle(handle);
    if (!h || !h->input_handle) return -1;
    return alsa_input_get(h->input_handle, reinterpret_cast<char**>(buffer), length);
}

QB_API int alsa_write(void* handle, unsigned char* buffer, int length) {
    alsa_handle* h = as_handle(handle);
    if (!h || !h->output_handle) return -1;
    return alsa_output_write(h->output_handle, reinterpret_cast<char*>(buffer), length);
}

QB_API int alsa_flush(void* handle) {
    alsa_handle* h = as_handle(handle);
    if (!h || !h->input_handle) return -1;
    return alsa_input_flush(h->input_handle);
}

}  // extern "C"
