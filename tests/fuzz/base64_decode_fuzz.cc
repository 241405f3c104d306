// Decodes arbitrary text into a buffer of exactly the documented size, and
// checks that encoding then decoding NUL-free bytes gives them back.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exact-size heap blocks so ASan sees any read past the NUL or write past the room.
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    const size_t len = strlen(text);
    auto* out = static_cast<unsigned char*>(malloc(SDK_BASE64_DECODED_MAX(len)));
    sdk_base64_decode(text, out);
    free(out);

    // The encoder takes strlen of its input, so only the text before the first NUL survives.
    char* coded = static_cast<char*>(malloc(4 * ((len + 2) / 3) + 1));
    sdk_base64_encode(reinterpret_cast<const unsigned char*>(text), coded);
    if (strlen(coded) != 4 * ((len + 2) / 3)) abort();
    auto* back = static_cast<unsigned char*>(malloc(SDK_BASE64_DECODED_MAX(strlen(coded))));
    sdk_base64_decode(coded, back);
    if (memcmp(back, text, len + 1) != 0) abort();
    free(back);
    free(coded);
    free(text);
    return 0;
}
