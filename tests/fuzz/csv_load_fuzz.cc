// Reads arbitrary bytes as CSV (the first byte picks the delimiters) and checks
// the table's invariants: every row has a field, every text is terminated.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/csv_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CSV_BUFFER* b = csv_create_buffer();
    if (!b) return 0;
    if (size > 0) {
        static const char fields[] = {',', ';', '\t', '"'};
        static const char quotes[] = {'"', '\'', ',', '\xff'};
        csv_set_field_delim(b, fields[data[0] & 3]);
        csv_set_text_delim(b, quotes[(data[0] >> 2) & 3]);
        ++data;
        --size;
    }
    if (qb::csv_load_memory(b, reinterpret_cast<const char*>(data), size) != 0) abort();
    size_t total = 0;
    for (size_t r = 0; r < b->rows; ++r) {
        if (b->width[r] == 0) abort();
        for (size_t i = 0; i < b->width[r]; ++i) {
            const CSV_FIELD* f = b->field[r][i];
            if (f->text[f->length - 1] != '\0') abort();
            total += f->length - 1;
        }
    }
    if (total > size) abort();
    CSV_BUFFER* copy = csv_dup_buffer(b);
    if (copy && b->rows > 0) csv_copy_row(copy, 0, b, static_cast<int>(b->rows - 1));
    csv_destroy_buffer(copy);
    csv_destroy_buffer(b);
    return 0;
}
