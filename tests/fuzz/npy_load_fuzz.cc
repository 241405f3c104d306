// Reads one NPY array from arbitrary bytes with the loader's own reader; a
// loaded array must save to an image that loads back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codecs/npy/npy_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qb::npy::MemorySource src(data, size);
    npy_array_t* m = qb::npy::read_array(src, qb::npy::kUnknownSize);
    if (!m) return 0;
    uint64_t bytes = 0;
    if (!qb::npy::data_size(m, &bytes) || bytes > size) abort();  // never more than the input held
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t again = 0;
    if (qb::npy::build_header(m, header, &again)) {
        std::string image(header, sizeof header);
        image.append(m->data, bytes);
        qb::npy::MemorySource back(image.data(), image.size());
        npy_array_t* n = qb::npy::read_array(back, qb::npy::kUnknownSize);
        if (!n || n->ndim != m->ndim || memcmp(n->data, m->data, bytes) != 0) abort();
        npy_array_free(n);
    }
    npy_array_free(m);
    return 0;
}
