// Decodes image files with Pillow (the system python3-pil), an independent
// reader for the encoders' output.
#pragma once

#include <string>

namespace qbtest {

struct PillowImage {
    bool ok = false;      // Pillow opened and fully decoded the file
    std::string format;   // "BMP", "JPEG", "PNG"
    std::string mode;     // Pillow's mode before conversion, e.g. "RGB"
    int width = 0;
    int height = 0;
    std::string rgb;      // converted to RGB, top row first, width * 3 bytes per row
    std::string error;    // Pillow's message when !ok
};

// Writes `bytes` to a temporary file and decodes it with /usr/bin/python3.
PillowImage pillow_decode(const std::string& bytes);

}  // namespace qbtest
