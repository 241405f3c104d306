// CSV tables: rows of text fields, read and written through large buffers.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/csv_internal.h"

namespace {

constexpr size_t kIoBlock = size_t{256} << 10;
// Chunks grow from 4 KiB to 1 MiB, so a small table stays small.
constexpr size_t kArenaFirstChunk = size_t{4} << 10;
constexpr size_t kArenaChunk = size_t{1} << 20;
constexpr size_t kArenaLargest = size_t{16} << 10;
// Bytes kept free at the end of each chunk, so the writer may read 16 bytes
// from the start of any arena text without leaving the chunk.
constexpr size_t kArenaSlack = 16;

// Fields read from a file come from a per-table arena (one allocation per
// megabyte instead of one per field); fields made by edits come from the heap.
// The two are told apart by where the text starts: right behind the record in
// the arena, one byte further in heap blocks.
struct Arena {
    char* chunks = nullptr;  // linked through their first word
    char* cur = nullptr;
    size_t left = 0;
    size_t next_chunk = kArenaFirstChunk;
};

// What csv_create_buffer allocates: the published record, then private state.
struct Table {
    CSV_BUFFER pub;
    Arena arena;
};

Arena& arena_of(CSV_BUFFER* b) { return reinterpret_cast<Table*>(b)->arena; }

void arena_release(Arena& a) {
    while (a.chunks) {
        char* next;
        memcpy(&next, a.chunks, sizeof next);
        free(a.chunks);
        a.chunks = next;
    }
    a.cur = nullptr;
    a.left = 0;
    a.next_chunk = kArenaFirstChunk;
}

CSV_FIELD* heap_field(const char* text, size_t len) {
    if (len > SIZE_MAX - sizeof(CSV_FIELD) - 2) return nullptr;
    auto* f = static_cast<CSV_FIELD*>(malloc(sizeof(CSV_FIELD) + len + 2));
    if (!f) return nullptr;
    f->text = reinterpret_cast<char*>(f + 1) + 1;
    if (len) memcpy(f->text, text, len);
    f->text[len] = '\0';
    f->length = len + 1;
    return f;
}

CSV_FIELD* arena_field(Arena& a, const char* text, size_t len) {
    if (len > kArenaLargest) return heap_field(text, len);
    const size_t need = (sizeof(CSV_FIELD) + len + 1 + 7) & ~size_t{7};
    if (need > a.left) {
        const size_t size = std::max(a.next_chunk, need + 8 + kArenaSlack);
        char* chunk = static_cast<char*>(malloc(size));
        if (!chunk) return nullptr;
        memcpy(chunk, &a.chunks, sizeof a.chunks);
        a.chunks = chunk;
        a.cur = chunk + 8;
        a.left = size - 8 - kArenaSlack;
        a.next_chunk = std::min(kArenaChunk, 2 * a.next_chunk);
    }
    auto* f = reinterpret_cast<CSV_FIELD*>(a.cur);
    a.cur += need;
    a.left -= need;
    f->text = reinterpret_cast<char*>(f + 1);
    if (len) memcpy(f->text, text, len);
    f->text[len] = '\0';
    f->length = len + 1;
    return f;
}

bool in_arena(const CSV_FIELD* f) { return f->text == reinterpret_cast<const char*>(f + 1); }

void free_field(CSV_FIELD* f) {
    if (f && !in_arena(f)) free(f);
}

// Arrays keep a capacity of bit_ceil(count), so it need not be stored: one
// more element reallocates only when the count is a power of two.
size_t capacity(size_t count) { return count == 0 ? 0 : std::bit_ceil(count); }

template <typename T>
bool make_room(T*& array, size_t count) {
    if (count + 1 <= capacity(count)) return true;
    const size_t cap = capacity(count + 1);
    if (cap == 0 || cap > SIZE_MAX / sizeof(T)) return false;
    T* grown = static_cast<T*>(realloc(array, cap * sizeof(T)));
    if (!grown) return false;
    array = grown;
    return true;
}

bool exists(const CSV_BUFFER* b, size_t row) { return b && row < b->rows; }
bool exists(const CSV_BUFFER* b, size_t row, size_t entry) { return exists(b, row) && entry < b->width[row]; }
bool exists_signed(const CSV_BUFFER* b, int row, int entry) {
    return row >= 0 && entry >= 0 && exists(b, static_cast<size_t>(row), static_cast<size_t>(entry));
}

void free_row(CSV_BUFFER* b, size_t row) {
    for (size_t i = 0; i < b->width[row]; ++i) free_field(b->field[row][i]);
    free(b->field[row]);
    b->field[row] = nullptr;
    b->width[row] = 0;
}

// Appends a row made of the given fields (taking them over); false if memory runs out.
bool append_row_of(CSV_BUFFER* b, CSV_FIELD* const* fields, size_t n) {
    auto** row = static_cast<CSV_FIELD**>(malloc(capacity(n) * sizeof(CSV_FIELD*)));
    if (!row || !make_room(b->field, b->rows) || !make_room(b->width, b->rows)) {
        free(row);
        return false;
    }
    memcpy(row, fields, n * sizeof *fields);
    b->field[b->rows] = row;
    b->width[b->rows] = n;
    ++b->rows;
    return true;
}

bool append_row(CSV_BUFFER* b) {
    CSV_FIELD* f = heap_field("", 0);
    if (f && append_row_of(b, &f, 1)) return true;
    free_field(f);
    return false;
}

bool append_field(CSV_BUFFER* b, size_t row, const char* text, size_t len) {
    CSV_FIELD** fields = b->field[row];
    if (!make_room(fields, b->width[row])) return false;
    b->field[row] = fields;
    CSV_FIELD* f = heap_field(text, len);
    if (!f) return false;
    fields[b->width[row]++] = f;
    return true;
}

bool set_text(CSV_BUFFER* b, size_t row, size_t entry, const char* text, size_t len) {
    CSV_FIELD* f = heap_field(text, len);
    if (!f) return false;
    free_field(b->field[row][entry]);
    b->field[row][entry] = f;
    return true;
}

void remove_row(CSV_BUFFER* b, size_t row) {
    free_row(b, row);
    const size_t below = b->rows - row - 1;
    memmove(b->field + row, b->field + row + 1, below * sizeof *b->field);
    memmove(b->width + row, b->width + row + 1, below * sizeof *b->width);
    // With no row left no field lives in the arena: give it back, so a table
    // that is loaded and emptied again and again does not grow.
    if (--b->rows == 0) arena_release(arena_of(b));
}

// Input through a large buffer (or straight from memory).
class Input {
public:
    explicit Input(FILE* f) : file_(f), block_(new char[kIoBlock]) {}
    Input(const char* data, size_t size) : cur_(data), end_(data + size) {}
    ~Input() { delete[] block_; }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool refill() {
        if (!file_) return false;
        const size_t n = fread(block_, 1, kIoBlock, file_);
        cur_ = block_;
        end_ = block_ + n;
        return n > 0;
    }
    // The next byte as 0..255, or EOF: a byte 0xFF is data.
    int get() {
        if (cur_ == end_ && !refill()) return EOF;
        return static_cast<unsigned char>(*cur_++);
    }
    bool at_end() { return cur_ == end_ && !refill(); }
    const char* cur() const { return cur_; }
    const char* end() const { return end_; }
    void skip_to(const char* p) { cur_ = p; }
    // Appends bytes up to the first one marked in stop; false at the end of input.
    bool take_until(const bool* stop, std::string& out) {
        for (;;) {
            const char* p = cur_;
            while (p < end_ && !stop[static_cast<unsigned char>(*p)]) ++p;
            out.append(cur_, p);
            cur_ = p;
            if (p < end_) return true;
            if (!refill()) return false;
        }
    }
    bool take_until(char stop, std::string& out) {
        for (;;) {
            if (cur_ < end_) {
                const char* p = static_cast<const char*>(memchr(cur_, stop, static_cast<size_t>(end_ - cur_)));
                out.append(cur_, p ? p : end_);
                if (p) {
                    cur_ = p;
                    return true;
                }
                cur_ = end_;
            }
            if (!refill()) return false;
        }
    }

private:
    FILE* file_ = nullptr;
    char* block_ = nullptr;
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
};

enum FieldEnd { kNextField = 0, kNextRow = 1, kEnd = 2 };

struct Delims {
    char field, text;
    bool stop[256] = {};
    Delims(char f, char t) : field(f), text(t) {
        stop[static_cast<unsigned char>(f)] = true;
        stop[static_cast<unsigned char>(t)] = true;
        stop[static_cast<unsigned char>('\n')] = true;
    }
};

// What ended a field, starting from the last character read; text after a
// closing quote is dropped up to the next delimiter.
FieldEnd ends_with(Input& in, const Delims& d, int c) {
    for (;; c = in.get()) {
        if (c == EOF) return kEnd;
        if (c == static_cast<unsigned char>(d.field)) return kNextField;
        if (c == '\n') return in.at_end() ? kEnd : kNextRow;
    }
}

struct RawField {
    const char* text;
    size_t len;
    int last;  // the character that ended it (EOF included), for ends_with
};

// Reads one field's text. It may point into the input block, so it is stored
// before ends_with, which can refill the block.
RawField read_field(Input& in, const Delims& d, std::string& buf) {
    const int quote = static_cast<unsigned char>(d.text);
    // Common case: an unquoted field that ends inside the current block.
    const char* start = in.cur();
    const char* p = start;
    while (p < in.end() && !d.stop[static_cast<unsigned char>(*p)]) ++p;
    if (p < in.end() && static_cast<unsigned char>(*p) != quote) {
        in.skip_to(p + 1);
        return {start, static_cast<size_t>(p - start), static_cast<unsigned char>(*p)};
    }
    buf.clear();
    for (;;) {
        in.take_until(d.stop, buf);
        const int c = in.get();
        if (c != quote) return {buf.data(), buf.size(), c};
        buf.clear();  // a quote discards what came before it
        for (;;) {
            in.take_until(d.text, buf);
            if (in.get() == EOF) return {buf.data(), buf.size(), EOF};  // unterminated: ends with the input
            const int next = in.get();
            if (next != quote) return {buf.data(), buf.size(), next};
            buf.push_back(d.text);  // a doubled quote stands for one
        }
    }
}

int load(CSV_BUFFER* b, Input& in) {
    const Delims d(b->field_delim, b->text_delim);
    Arena& arena = arena_of(b);
    std::string buf;
    std::vector<CSV_FIELD*> row;
    for (;;) {
        const RawField raw = read_field(in, d, buf);
        CSV_FIELD* f = arena_field(arena, raw.text, raw.len);
        if (f) row.push_back(f);
        const FieldEnd end = f ? ends_with(in, d, raw.last) : kEnd;
        if (end == kNextField) continue;
        if (!row.empty() && append_row_of(b, row.data(), row.size())) row.clear();
        if (!f || !row.empty()) {
            for (CSV_FIELD* g : row) free_field(g);
            return 2;
        }
        if (end == kEnd) return 0;
    }
}

// Tells whether bytes hold F, T or a line feed, eight at a time.
class QuoteScan {
public:
    explicit QuoteScan(const Delims& d)
        : stop_(d.stop), f_(broadcast(d.field)), t_(broadcast(d.text)) {}
    bool stop(unsigned char c) const { return stop_[c]; }
    uint64_t hits(uint64_t w) const { return zero_byte(w ^ f_) | zero_byte(w ^ t_) | zero_byte(w ^ kLf); }
    bool any(const char* p, size_t n) const {
        bool found = false;
        for (size_t i = 0; i < n; ++i) found |= stop_[static_cast<unsigned char>(p[i])];
        return found;
    }

private:
    static uint64_t broadcast(char c) { return 0x0101010101010101ull * static_cast<unsigned char>(c); }
    static uint64_t zero_byte(uint64_t x) { return (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull; }
    static constexpr uint64_t kLf = 0x0a0a0a0a0a0a0a0aull;
    const bool* stop_;
    uint64_t f_, t_;
};

// Output through a large buffer; remembers the first write error.
class Output {
public:
    explicit Output(FILE* f) : file_(f), block_(new char[kIoBlock]) {}
    ~Output() { delete[] block_; }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    void put(const char* p, size_t n) {
        if (used_ + n > kIoBlock) flush();
        if (n >= kIoBlock) {
            ok_ = ok_ && fwrite(p, 1, n, file_) == n;
            return;
        }
        memcpy(block_ + used_, p, n);
        used_ += n;
    }
    void put(char c) {
        if (used_ == kIoBlock) flush();
        block_[used_++] = c;
    }
    // Copies a field that needs no quoting straight into the block, checking
    // as it copies; false, with nothing written, when it needs quoting.
    bool put_plain(const char* p, size_t n, bool readable16, const QuoteScan& scan) {
        if (readable16 && n <= 16 && used_ + 16 <= kIoBlock) {
            // Two whole words with the bytes past the text masked off: no
            // branch on the length, which varies from field to field.
            uint64_t w0, w1;
            memcpy(&w0, p, 8);
            memcpy(&w1, p + 8, 8);
            const uint64_t m0 = n >= 8 ? ~0ull : (1ull << (8 * n)) - 1;
            const uint64_t m1 = n >= 16 ? ~0ull : n <= 8 ? 0 : (1ull << (8 * (n - 8))) - 1;
            if ((scan.hits(w0) & m0) | (scan.hits(w1) & m1)) return false;
            memcpy(block_ + used_, &w0, 8);
            memcpy(block_ + used_ + 8, &w1, 8);
            used_ += n;
            return true;
        }
        if (n > kIoBlock / 2) {
            if (scan.any(p, n)) return false;
            put(p, n);
            return true;
        }
        if (used_ + n > kIoBlock) flush();
        char* dst = block_ + used_;
        if (n < 8) {
            bool found = false;
            for (size_t i = 0; i < n; ++i) {
                found |= scan.stop(static_cast<unsigned char>(p[i]));
                dst[i] = p[i];
            }
            if (found) return false;
        } else {
            uint64_t found = 0, w;
            size_t i = 0;
            for (; i + 8 <= n; i += 8) {
                memcpy(&w, p + i, 8);
                found |= scan.hits(w);
                memcpy(dst + i, &w, 8);
            }
            if (i < n) {  // the tail, overlapping bytes already copied
                memcpy(&w, p + n - 8, 8);
                found |= scan.hits(w);
                memcpy(dst + n - 8, &w, 8);
            }
            if (found) return false;
        }
        used_ += n;
        return true;
    }
    // T, the text with every T doubled, T.
    void put_quoted(const char* p, size_t n, char quote) {
        if (n <= kIoBlock / 4) {
            if (used_ + 2 * n + 2 > kIoBlock) flush();
            char* dst = block_ + used_;
            *dst++ = quote;
            for (size_t i = 0; i < n; ++i) {
                *dst++ = p[i];
                if (p[i] == quote) *dst++ = quote;
            }
            *dst++ = quote;
            used_ = static_cast<size_t>(dst - block_);
            return;
        }
        const char* end = p + n;
        put(quote);
        while (p < end) {
            const char* q = static_cast<const char*>(memchr(p, quote, static_cast<size_t>(end - p)));
            const char* stop = q ? q + 1 : end;
            put(p, static_cast<size_t>(stop - p));
            if (q) put(quote);
            p = stop;
        }
        put(quote);
    }
    bool flush() {
        ok_ = ok_ && (used_ == 0 || fwrite(block_, 1, used_, file_) == used_);
        used_ = 0;
        return ok_;
    }

private:
    FILE* file_;
    char* block_;
    size_t used_ = 0;
    bool ok_ = true;
};

void write_field(Output& out, const Delims& d, const QuoteScan& scan, const CSV_FIELD* f) {
    const char* p = f->text;
    const size_t len = f->length - 1;
    if (out.put_plain(p, len, in_arena(f), scan)) return;
    out.put_quoted(p, len, d.text);
}

}  // namespace

namespace qb {

int csv_load_memory(CSV_BUFFER* buffer, const char* data, size_t size) {
    if (!buffer) return 1;
    Input in(data, size);
    return load(buffer, in);
}

}  // namespace qb

extern "C" {

QB_API CSV_BUFFER* csv_create_buffer(void) {
    auto* t = static_cast<Table*>(calloc(1, sizeof(Table)));
    if (!t) return nullptr;
    t->arena.next_chunk = kArenaFirstChunk;
    CSV_BUFFER* b = &t->pub;
    b->field_delim = ',';
    b->text_delim = '"';
    os_mutex_init(&b->mutex);
    return b;
}

QB_API CSV_BUFFER* csv_dup_buffer(CSV_BUFFER* src) {
    if (!src) return nullptr;
    CSV_BUFFER* b = csv_create_buffer();
    if (!b) return nullptr;
    std::vector<CSV_FIELD*> row;
    for (size_t r = 0; r < src->rows; ++r) {
        row.clear();
        bool ok = true;
        for (size_t i = 0; ok && i < src->width[r]; ++i) {
            const CSV_FIELD* f = src->field[r][i];
            CSV_FIELD* copy = arena_field(arena_of(b), f->text, f->length - 1);
            ok = copy != nullptr;
            if (ok) row.push_back(copy);
        }
        if (!ok || !append_row_of(b, row.data(), row.size())) {
            for (CSV_FIELD* f : row) free_field(f);
            csv_destroy_buffer(b);
            return nullptr;
        }
    }
    return b;
}

QB_API void csv_destroy_buffer(CSV_BUFFER* buffer) {
    if (!buffer) return;
    for (size_t r = 0; r < buffer->rows; ++r) free_row(buffer, r);
    free(buffer->field);
    free(buffer->width);
    arena_release(arena_of(buffer));
    os_mutex_deinit(&buffer->mutex);
    free(reinterpret_cast<Table*>(buffer));
}

QB_API void csv_lock(CSV_BUFFER* buffer) {
    if (buffer) os_mutex_lock(&buffer->mutex);
}

QB_API void csv_unlock(CSV_BUFFER* buffer) {
    if (buffer) os_mutex_unlock(&buffer->mutex);
}

QB_API int csv_load(CSV_BUFFER* buffer, char* file_name) {
    if (!buffer || !file_name) return 1;
    FILE* f = fopen(file_name, "r");
    if (!f) return 1;
    Input in(f);
    const int result = load(buffer, in);
    fclose(f);
    return result;
}

QB_API int csv_save(char* file_name, CSV_BUFFER* buffer) {
    if (!buffer || !file_name) return 1;
    FILE* f = fopen(file_name, "w");
    if (!f) return 1;
    const Delims d(buffer->field_delim, buffer->text_delim);
    const QuoteScan scan(d);
    bool ok;
    {
        Output out(f);
        for (size_t r = 0; r < buffer->rows; ++r) {
            CSV_FIELD* const* row = buffer->field[r];
            const size_t width = buffer->width[r];
            // The walk chases pointers; ask for the next row's records early.
            if (r + 1 < buffer->rows) {
                CSV_FIELD* const* next = buffer->field[r + 1];
                for (size_t i = 0; i < buffer->width[r + 1] && i < 16; ++i) __builtin_prefetch(next[i]);
                if (r + 2 < buffer->rows) __builtin_prefetch(buffer->field[r + 2]);
            }
            for (size_t i = 0; i < width; ++i) {
                write_field(out, d, scan, row[i]);
                if (i + 1 < width) out.put(d.field);
            }
            if (r + 1 < buffer->rows) out.put('\n');
        }
        ok = out.flush();
    }
    if (fclose(f) != 0) ok = false;
    return ok ? 0 : 1;
}

QB_API int csv_get_height(CSV_BUFFER* buffer) { return buffer ? static_cast<int>(buffer->rows) : 0; }

QB_API int csv_get_width(CSV_BUFFER* buffer, size_t row) {
    return exists(buffer, row) ? static_cast<int>(buffer->width[row]) : 0;
}

QB_API int csv_get_field_length(CSV_BUFFER* buffer, size_t row, size_t entry) {
    return exists(buffer, row, entry) ? static_cast<int>(buffer->field[row][entry]->length - 1) : 0;
}

QB_API char* csv_get_field_ptr(CSV_BUFFER* src, size_t row, size_t entry) {
    return exists(src, row, entry) ? src->field[row][entry]->text : nullptr;
}

QB_API int csv_get_field(char* dest, size_t dest_len, CSV_BUFFER* src, size_t row, size_t entry) {
    if (!dest) return 3;
    if (!exists(src, row, entry)) {
        dest[0] = '\0';
        return 2;
    }
    if (dest_len == 0) {
        dest[0] = '\0';
        return 3;
    }
    const CSV_FIELD* f = src->field[row][entry];
    const size_t len = f->length - 1;
    const size_t n = std::min(len, dest_len);
    memcpy(dest, f->text, n);
    dest[n] = '\0';
    return len > dest_len ? 1 : 0;
}

QB_API int csv_set_field(CSV_BUFFER* buffer, size_t row, size_t entry, char* field) {
    if (!buffer) return 1;
    while (buffer->rows <= row)
        if (!append_row(buffer)) return 1;
    while (buffer->width[row] <= entry)
        if (!append_field(buffer, row, "", 0)) return 1;
    const char* text = field ? field : "";
    return set_text(buffer, row, entry, text, strlen(text)) ? 0 : 1;
}

QB_API int csv_insert_field(CSV_BUFFER* buffer, size_t row, size_t entry, char* field) {
    if (!exists(buffer, row, entry)) return csv_set_field(buffer, row, entry, field);
    const char* text = field ? field : "";
    CSV_FIELD** fields = buffer->field[row];
    if (!make_room(fields, buffer->width[row])) return 1;
    buffer->field[row] = fields;
    CSV_FIELD* f = heap_field(text, strlen(text));
    if (!f) return 1;
    memmove(fields + entry + 1, fields + entry, (buffer->width[row] - entry) * sizeof *fields);
    fields[entry] = f;
    ++buffer->width[row];
    return 0;
}

QB_API int csv_copy_field(CSV_BUFFER* dest, int dest_row, int dest_entry, CSV_BUFFER* source, int source_row,
                          int source_entry) {
    if (!exists_signed(dest, dest_row, dest_entry) || !exists_signed(source, source_row, source_entry)) return 1;
    const CSV_FIELD* from = source->field[source_row][source_entry];
    return set_text(dest, static_cast<size_t>(dest_row), static_cast<size_t>(dest_entry), from->text,
                    from->length - 1)
               ? 0
               : 1;
}

QB_API int csv_copy_row(CSV_BUFFER* dest, int dest_row, CSV_BUFFER* source, int source_row) {
    if (!dest || dest_row < 0) return 1;
    const size_t to = static_cast<size_t>(dest_row);
    if (source_row < 0 || !exists(source, static_cast<size_t>(source_row)))
        return csv_clear_row(dest, to);
    const size_t from = static_cast<size_t>(source_row);
    // Copies first, so a row copied onto itself (or onto a row that the
    // appending below moves) reads intact texts.
    const size_t width = source->width[from];
    auto** fields = static_cast<CSV_FIELD**>(malloc(capacity(width) * sizeof(CSV_FIELD*)));
    size_t made = 0;
    while (fields && made < width) {
        const CSV_FIELD* f = source->field[from][made];
        if (!(fields[made] = heap_field(f->text, f->length - 1))) break;
        ++made;
    }
    bool ok = fields && made == width;
    while (ok && dest->rows <= to) ok = append_row(dest);
    if (!ok) {
        for (size_t i = 0; i < made; ++i) free_field(fields[i]);
        free(fields);
        return 1;
    }
    free_row(dest, to);
    dest->field[to] = fields;
    dest->width[to] = width;
    return 0;
}

QB_API int csv_clear_field(CSV_BUFFER* buffer, size_t row, size_t entry) {
    if (!exists(buffer, row, entry)) return 0;
    if (entry + 1 == buffer->width[row] && buffer->width[row] > 1) {
        free_field(buffer->field[row][entry]);
        --buffer->width[row];
        return 0;
    }
    return set_text(buffer, row, entry, "", 0) ? 0 : 1;
}

QB_API int csv_clear_row(CSV_BUFFER* buffer, size_t row) {
    if (!exists(buffer, row)) return 0;
    if (row + 1 == buffer->rows) {
        remove_row(buffer, row);
        return 0;
    }
    for (size_t i = 1; i < buffer->width[row]; ++i) free_field(buffer->field[row][i]);
    buffer->width[row] = 1;
    return set_text(buffer, row, 0, "", 0) ? 0 : 1;
}

QB_API int csv_remove_row(CSV_BUFFER* buffer, size_t row) {
    if (exists(buffer, row)) remove_row(buffer, row);
    return 0;
}

QB_API int csv_remove_all_row(CSV_BUFFER* buffer) {
    while (buffer && buffer->rows > 0) remove_row(buffer, buffer->rows - 1);
    return 0;
}

QB_API int csv_remove_field(CSV_BUFFER* buffer, size_t row, size_t entry) {
    if (!exists(buffer, row, entry)) return 0;
    if (buffer->width[row] == 1) return set_text(buffer, row, 0, "", 0) ? 0 : 1;
    CSV_FIELD** fields = buffer->field[row];
    free_field(fields[entry]);
    memmove(fields + entry, fields + entry + 1, (buffer->width[row] - entry - 1) * sizeof *fields);
    --buffer->width[row];
    return 0;
}

QB_API int csv_find_row_by_field(CSV_BUFFER* buffer, int field, char* field_str) {
    if (!buffer || field < 0 || !field_str) return -1;
    const size_t entry = static_cast<size_t>(field);
    const size_t len = strlen(field_str);
    for (size_t r = 0; r < buffer->rows; ++r) {
        if (entry >= buffer->width[r]) continue;
        const CSV_FIELD* f = buffer->field[r][entry];
        if (f->length == len + 1 && memcmp(f->text, field_str, len) == 0) return static_cast<int>(r);
    }
    return -1;
}

QB_API void csv_set_field_delim(CSV_BUFFER* buffer, char delim) {
    if (buffer) buffer->field_delim = delim;
}

QB_API void csv_set_text_delim(CSV_BUFFER* buffer, char delim) {
    if (buffer) buffer->text_delim = delim;
}

}  // extern "C"
