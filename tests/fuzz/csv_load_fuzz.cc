// Reads arbitrary bytes as CSV (the first byte picks the delimiters), checks
// the table's invariants, and compares it with a plain reader that takes one
// character at a time: the fast loader, with each of its byte scanners, must
// give the same table.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/csv/csv_internal.h"

namespace {

using Table = std::vector<std::vector<std::string>>;

Table read_slowly(const char* p, size_t n, char fd, char td) {
    size_t i = 0;
    auto next = [&]() -> int { return i < n ? static_cast<unsigned char>(p[i++]) : EOF; };
    const int F = static_cast<unsigned char>(fd), T = static_cast<unsigned char>(td);
    Table t(1);
    for (;;) {
        std::string text;
        int c = next();
        for (bool quoted = false;; c = next()) {
            if (c == EOF) break;
            if (!quoted) {
                if (c == T) {
                    quoted = true;
                    text.clear();
                } else if (c == F || c == '\n') {
                    break;
                } else {
                    text += static_cast<char>(c);
                }
            } else if (c != T) {
                text += static_cast<char>(c);
            } else if ((c = next()) == T) {
                text += static_cast<char>(T);
            } else {
                break;
            }
        }
        t.back().push_back(text);
        while (c != EOF && c != F && c != '\n') c = next();  // text after a closing quote
        if (c == EOF || (c == '\n' && i == n)) return t;
        if (c != F) t.emplace_back();
    }
}

// The table read into a fresh buffer with the given delimiters and scanner;
// aborts on a broken invariant.
Table load(const char* text, size_t size, char fd, char td, qb::CsvScan scan) {
    qb::csv_use_scan(scan);
    CSV_BUFFER* b = csv_create_buffer();
    if (!b) abort();
    csv_set_field_delim(b, fd);
    csv_set_text_delim(b, td);
    if (qb::csv_load_memory(b, text, size) != 0) abort();
    Table loaded(b->rows);
    for (size_t r = 0; r < b->rows; ++r) {
        if (b->width[r] == 0) abort();
        for (size_t i = 0; i < b->width[r]; ++i) {
            const CSV_FIELD* f = b->field[r][i];
            if (f->text[f->length - 1] != '\0') abort();
            loaded[r].emplace_back(f->text, f->length - 1);
        }
    }
    csv_destroy_buffer(b);
    return loaded;
}

}  // namespace

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
    const char* text = reinterpret_cast<const char*>(data);
    // Every byte scanner must cut the same table as the plain reader.
    const Table want = read_slowly(text, size, b->field_delim, b->text_delim);
    for (qb::CsvScan scan : {qb::CsvScan::kPortable, qb::CsvScan::kSse2, qb::CsvScan::kAvx2})
        if (load(text, size, b->field_delim, b->text_delim, scan) != want) abort();
    if (qb::csv_load_memory(b, text, size) != 0) abort();
    CSV_BUFFER* copy = csv_dup_buffer(b);
    if (copy && b->rows > 0) csv_copy_row(copy, 0, b, static_cast<int>(b->rows - 1));
    if (b->rows > 0 && csv_insert_field(b, 0, 0, const_cast<char*>("x")) != 0) abort();
    csv_destroy_buffer(copy);
    csv_destroy_buffer(b);
    return 0;
}
