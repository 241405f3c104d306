// Walks arbitrary bytes as an NPZ archive; every array kept must lie within the input.
#include <cstdint>
#include <cstdlib>

#include "codecs/npy/npy_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qb::npy::MemorySource src(data, size);
    npy_array_list_t* list = qb::npy::read_archive(src);
    for (npy_array_list_t* node = list; node; node = node->next) {
        uint64_t bytes = 0;
        if (!node->filename || !qb::npy::data_size(node->array, &bytes) || bytes > size) abort();
    }
    npy_array_list_free(list);
    return 0;
}
