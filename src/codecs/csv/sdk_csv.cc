// CSV tables: rows of text fields. A file is read whole and cut into fields in
// place; tables are written through a large buffer.
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "codecs/csv/csv_internal.h"
#include "foundation/big_alloc.h"

namespace {

constexpr size_t kIoBlock = size_t{256} << 10;
// Chunks grow from 4 KiB to 64 MiB, so a small table stays small.
constexpr size_t kArenaFirstChunk = size_t{4} << 10;
constexpr size_t kArenaChunk = size_t{64} << 20;
constexpr size_t kArenaLargest = size_t{16} << 10;
// Bytes kept readable behind every arena text: the writer reads 16 bytes from
// the start of any text, the reader 64 from the start of any block.
constexpr size_t kArenaSlack = 64;

// Fields read from a file and their row arrays live in a per-table arena; the
// texts stay in the block the file was read into, cut in place. Fields made
// by edits come from the heap, with their text one byte behind the record, so
// a field tells which it is; row arrays are told apart by address.
struct Chunk {
    char* base;
    size_t size;
};

struct Arena {
    Chunk* chunks = nullptr;  // sorted by address
    size_t count = 0;
    size_t cap = 0;
    char* cur = nullptr;  // free space of the newest record chunk
    char* end = nullptr;
    size_t next_chunk = kArenaFirstChunk;
};

// What csv_create_buffer allocates: the published record, then private state.
struct Table {
    CSV_BUFFER pub;
    Arena arena;
};

Arena& arena_of(CSV_BUFFER* b) { return reinterpret_cast<Table*>(b)->arena; }

void arena_release(Arena& a) {
    for (size_t i = 0; i < a.count; ++i) free(a.chunks[i].base);
    free(a.chunks);
    a = Arena{};
}

bool arena_owns(const Arena& a, const void* p) {
    const char* c = static_cast<const char*>(p);
    size_t lo = 0, hi = a.count;  // the first chunk starting above p
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (a.chunks[mid].base <= c)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo > 0 && c < a.chunks[lo - 1].base + a.chunks[lo - 1].size;
}

// Takes over a block from qb::big_alloc; false (block not taken) if memory runs out.
bool arena_adopt(Arena& a, char* base, size_t size) {
    if (a.count == a.cap) {
        const size_t cap = a.cap ? 2 * a.cap : 16;
        auto* grown = static_cast<Chunk*>(realloc(a.chunks, cap * sizeof(Chunk)));
        if (!grown) return false;
        a.chunks = grown;
        a.cap = cap;
    }
    size_t at = a.count;
    while (at > 0 && a.chunks[at - 1].base > base) --at;
    memmove(a.chunks + at + 1, a.chunks + at, (a.count - at) * sizeof(Chunk));
    a.chunks[at] = {base, size};
    ++a.count;
    return true;
}

// Makes [cur, end) hold at least need bytes, in a fresh chunk if it must.
bool arena_reserve(Arena& a, size_t need) {
    if (static_cast<size_t>(a.end - a.cur) >= need) return true;
    if (need > SIZE_MAX - kArenaSlack) return false;
    const size_t size = std::max(a.next_chunk, need + kArenaSlack);
    char* chunk = static_cast<char*>(qb::big_alloc(size));
    if (!chunk) return false;
    if (!arena_adopt(a, chunk, size)) {
        free(chunk);
        return false;
    }
    a.cur = chunk;
    a.end = chunk + size - kArenaSlack;
    a.next_chunk = std::min(kArenaChunk, 2 * a.next_chunk);
    return true;
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

// A record with its text right behind it.
CSV_FIELD* arena_field(Arena& a, const char* text, size_t len) {
    if (len > kArenaLargest) return heap_field(text, len);
    const size_t need = (sizeof(CSV_FIELD) + len + 1 + 7) & ~size_t{7};
    if (!arena_reserve(a, need)) return nullptr;
    auto* f = reinterpret_cast<CSV_FIELD*>(a.cur);
    a.cur += need;
    f->text = reinterpret_cast<char*>(f + 1);
    if (len) memcpy(f->text, text, len);
    f->text[len] = '\0';
    f->length = len + 1;
    return f;
}

bool in_heap(const CSV_FIELD* f) { return f->text == reinterpret_cast<const char*>(f + 1) + 1; }

void free_field(CSV_FIELD* f) {
    if (f && in_heap(f)) free(f);
}

// Arrays keep a capacity of bit_ceil(count), so it need not be stored: one
// more element reallocates only when the count is a power of two.
size_t capacity(size_t count) { return count == 0 ? 0 : std::bit_ceil(count); }

template <typename T>
bool make_room(T*& array, size_t count) {
    if (count + 1 <= capacity(count)) return true;
    const size_t cap = capacity(count + 1);
    if (cap == 0 || cap > SIZE_MAX / sizeof(T)) return false;
    if (array && malloc_usable_size(array) >= cap * sizeof(T)) return true;  // reserved ahead
    T* grown = static_cast<T*>(qb::big_realloc(array, cap * sizeof(T)));
    if (!grown) return false;
    array = grown;
    return true;
}

// Grows an array to want elements at once; the capacity stays at least
// bit_ceil(count), as make_room expects.
template <typename T>
bool reserve(T*& array, size_t count, size_t want) {
    const size_t cap = capacity(want);
    if (cap <= capacity(count)) return true;
    if (cap > SIZE_MAX / sizeof(T)) return false;
    T* grown = static_cast<T*>(qb::big_realloc(array, cap * sizeof(T)));
    if (!grown) return false;
    array = grown;
    return true;
}

// A row array in the arena has no room to grow: it moves to the heap first.
bool own_row(CSV_BUFFER* b, size_t row) {
    CSV_FIELD** fields = b->field[row];
    if (!arena_owns(arena_of(b), fields)) return true;
    const size_t width = b->width[row];
    auto** copy = static_cast<CSV_FIELD**>(malloc(capacity(width) * sizeof(CSV_FIELD*)));
    if (!copy) return false;
    memcpy(copy, fields, width * sizeof *copy);
    b->field[row] = copy;
    return true;
}

bool exists(const CSV_BUFFER* b, size_t row) { return b && row < b->rows; }
bool exists(const CSV_BUFFER* b, size_t row, size_t entry) { return exists(b, row) && entry < b->width[row]; }
bool exists_signed(const CSV_BUFFER* b, int row, int entry) {
    return row >= 0 && entry >= 0 && exists(b, static_cast<size_t>(row), static_cast<size_t>(entry));
}

void free_row(CSV_BUFFER* b, size_t row) {
    for (size_t i = 0; i < b->width[row]; ++i) free_field(b->field[row][i]);
    if (!arena_owns(arena_of(b), b->field[row])) free(b->field[row]);
    b->field[row] = nullptr;
    b->width[row] = 0;
}

// Adds a row whose array the caller made (taking it over); false if memory runs out.
bool push_row(CSV_BUFFER* b, CSV_FIELD** fields, size_t n) {
    if (!make_room(b->field, b->rows) || !make_room(b->width, b->rows)) return false;
    b->field[b->rows] = fields;
    b->width[b->rows] = n;
    ++b->rows;
    return true;
}

// Appends a row made of the given fields (taking them over); false if memory runs out.
bool append_row_of(CSV_BUFFER* b, CSV_FIELD* const* fields, size_t n) {
    auto** row = static_cast<CSV_FIELD**>(malloc(capacity(n) * sizeof(CSV_FIELD*)));
    if (!row) return false;
    memcpy(row, fields, n * sizeof *fields);
    if (push_row(b, row, n)) return true;
    free(row);
    return false;
}

bool append_row(CSV_BUFFER* b) {
    CSV_FIELD* f = heap_field("", 0);
    if (f && append_row_of(b, &f, 1)) return true;
    free_field(f);
    return false;
}

bool append_field(CSV_BUFFER* b, size_t row, const char* text, size_t len) {
    if (!own_row(b, row)) return false;
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
    // With no row left nothing lives in the arena: give it back, so a table
    // that is loaded and emptied again and again does not grow.
    if (--b->rows == 0) arena_release(arena_of(b));
}

struct Delims {
    char field, text;
    bool stop[256] = {};
    Delims(char f, char t) : field(f), text(t) {
        stop[static_cast<unsigned char>(f)] = true;
        stop[static_cast<unsigned char>(t)] = true;
        stop[static_cast<unsigned char>('\n')] = true;
    }
};

// Positions of F, T and line feeds, from masks made a window at a time.
// Needs 64 readable bytes behind the end; bits past the end are cleared.
class Specials {
public:
    Specials(const char* data, size_t size, const Delims& d)
        : data_(data), size_(size), d_(d), scan_(qb::csv_scanner()) {}
    // The first position at or after pos that holds F, T or a line feed; size if none.
    size_t next(size_t pos) {
        while (pos < size_) {
            const size_t block = pos >> 6;
            if (block - first_ >= count_) load(block);
            const uint64_t bits = masks_[block - first_] & (~uint64_t{0} << (pos & 63));
            if (bits) return (block << 6) + static_cast<size_t>(std::countr_zero(bits));
            pos = (block + 1) << 6;
        }
        return size_;
    }

private:
    static constexpr size_t kWindow = 64;  // blocks of 64 bytes per call of the scanner
    void load(size_t block) {
        const size_t last = (size_ - 1) >> 6;
        first_ = block;
        count_ = std::min(kWindow, last - block + 1);
        scan_(data_ + (block << 6), count_, d_.field, d_.text, masks_);
        if (first_ + count_ - 1 == last && (size_ & 63)) masks_[count_ - 1] &= (uint64_t{1} << (size_ & 63)) - 1;
    }
    const char* data_;
    size_t size_;
    const Delims& d_;
    qb::CsvMaskFn scan_;
    size_t first_ = 0, count_ = 0;
    uint64_t masks_[kWindow];
};

// Lays a row out in the arena: its records one after another, then the
// array of pointers to them. A row that outgrows its chunk moves whole.
class RowBuilder {
public:
    explicit RowBuilder(Arena& a) : a_(a), row_(a.cur) {}
    bool add(char* text, size_t len) {
        if (!room(sizeof(CSV_FIELD))) return false;
        auto* f = reinterpret_cast<CSV_FIELD*>(a_.cur);
        f->text = text;
        f->length = len + 1;
        a_.cur += sizeof(CSV_FIELD);
        ++n_;
        return true;
    }
    // Publishes the fields added since the last row; false if memory runs out.
    bool finish(CSV_BUFFER* b) {
        if (n_ == 0) return true;
        if (!room(n_ * sizeof(CSV_FIELD*))) return false;
        auto** fields = reinterpret_cast<CSV_FIELD**>(a_.cur);
        auto* records = reinterpret_cast<CSV_FIELD*>(row_);
        for (size_t i = 0; i < n_; ++i) fields[i] = records + i;
        a_.cur += n_ * sizeof(CSV_FIELD*);
        if (!push_row(b, fields, n_)) return false;
        row_ = a_.cur;
        n_ = 0;
        return true;
    }

private:
    bool room(size_t more) {
        if (static_cast<size_t>(a_.end - a_.cur) >= more) return true;
        const size_t used = n_ * sizeof(CSV_FIELD);
        if (used > SIZE_MAX / 2 - more) return false;
        const char* old = row_;
        if (!arena_reserve(a_, 2 * used + more)) return false;
        if (used) memcpy(a_.cur, old, used);
        row_ = a_.cur;
        a_.cur += used;
        return true;
    }
    Arena& a_;
    char* row_;
    size_t n_ = 0;
};

// Faults in the pages of blocks a load is about to fill, on a second thread,
// so the kernel's zeroing of fresh memory (slow on virtual machines) runs
// beside the parsing instead of inside it. Pages are populated, never
// written, so the loading thread may fill them at the same time. Paced by
// the parser's progress, so a wrong guess never faults in much unused memory.
class Prefaulter {
public:
    Prefaulter() = default;
    Prefaulter(const Prefaulter&) = delete;
    Prefaulter& operator=(const Prefaulter&) = delete;
    ~Prefaulter() { stop(); }
    // Before start(): the whole pages of [p, p + n), from the end downwards if
    // the loading thread fills them upwards right away.
    void add(void* p, size_t n, bool downwards = false) {
        const auto lo = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~uintptr_t{kPage - 1};
        const auto hi = (reinterpret_cast<uintptr_t>(p) + n) & ~uintptr_t{kPage - 1};
        if (hi <= lo || count_ == kRanges) return;
        ranges_[count_++] = {reinterpret_cast<char*>(lo), reinterpret_cast<char*>(hi), downwards};
        bytes_ += hi - lo;
    }
    // Only worth a thread for large blocks; without one the loader faults alone.
    // With a goal, keeps within kLead of the share of the blocks that
    // advance() has reached.
    void start(size_t goal = 0) {
#ifdef MADV_POPULATE_WRITE
        if (bytes_ < kWorthIt) return;
        goal_ = goal;
        try {
            thread_ = std::thread([this] { run(); });
            started_ = true;
        } catch (...) {
        }
#endif
    }
    bool started() const { return started_; }
    void advance(size_t progress) { progress_.store(progress, std::memory_order_relaxed); }
    void stop() {
        stop_.store(true, std::memory_order_relaxed);
        if (thread_.joinable()) thread_.join();
    }

private:
    static constexpr size_t kPage = 4096;
    static constexpr size_t kRanges = 4;
    static constexpr size_t kWorthIt = size_t{4} << 20;
    static constexpr size_t kLead = size_t{64} << 20;
    struct Range {
        char *lo, *hi;
        bool downwards;
    };
    bool ahead(size_t populated) const {
        if (goal_ == 0) return false;
        const double share = static_cast<double>(progress_.load(std::memory_order_relaxed)) / static_cast<double>(goal_);
        return static_cast<double>(populated) > static_cast<double>(kLead) + share * static_cast<double>(bytes_);
    }
    void run() {
#ifdef MADV_POPULATE_WRITE
        size_t populated = 0;
        for (size_t i = 0; i < count_; ++i) {
            const Range r = ranges_[i];
            for (size_t done = 0, n = static_cast<size_t>(r.hi - r.lo); done < n;) {
                if (stop_.load(std::memory_order_relaxed)) return;
                if (ahead(populated)) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                    continue;
                }
                const size_t step = std::min(qb::kHugePage, n - done);
                char* at = r.downwards ? r.hi - done - step : r.lo + done;
                if (madvise(at, step, MADV_POPULATE_WRITE) != 0) return;  // an older kernel
                done += step;
                populated += step;
            }
        }
#endif
    }
    Range ranges_[kRanges] = {};
    size_t count_ = 0, bytes_ = 0, goal_ = 0;
    bool started_ = false;
    std::atomic<size_t> progress_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The fields and rows in data, judged from its first MiB: every field ends
// at F, a line feed or the end, so counting those (quoted ones too) errs on
// the high side.
struct Estimate {
    size_t fields = 0, rows = 0;
};

Estimate estimate(const char* data, size_t size, char field) {
    constexpr size_t kSampleBlocks = 16384;  // 1 MiB
    const size_t blocks = std::min(kSampleBlocks, size >> 6);
    const qb::CsvMaskFn scan = qb::csv_scanner();
    uint64_t ends[64], lines[64];
    size_t f = 0, l = 0;
    for (size_t k = 0; k < blocks; k += 64) {
        const size_t n = std::min<size_t>(64, blocks - k);
        scan(data + 64 * k, n, field, field, ends);
        scan(data + 64 * k, n, '\n', '\n', lines);
        for (size_t i = 0; i < n; ++i) {
            f += static_cast<size_t>(std::popcount(ends[i]));
            l += static_cast<size_t>(std::popcount(lines[i]));
        }
    }
    Estimate e;
    if (blocks == 0) return e;
    // Scaled to the whole block with an eighth to spare.
    const double scale = static_cast<double>(size) / static_cast<double>(64 * blocks) * 1.125;
    e.fields = static_cast<size_t>(static_cast<double>(f) * scale) + 1;
    e.rows = static_cast<size_t>(static_cast<double>(l) * scale) + 1;
    return e;
}

// memmove for the short gaps doubled quotes leave, without a call.
void close_up(char* to, const char* from, size_t n) {
    if (n > 32) {
        memmove(to, from, n);
        return;
    }
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

// The cutting loop of parse.
int cut(CSV_BUFFER* b, char* data, size_t size, const Delims& d, Arena& arena, Prefaulter& prefault) {
    Specials specials(data, size, d);
    RowBuilder row(arena);
    const char delim = d.field, quote = d.text;  // kept in registers across the stores below
    for (size_t pos = 0;;) {
        size_t e = specials.next(pos);
        char* text = data + pos;
        size_t len = e - pos;
        if (e < size && data[e] == quote) {
            // A quote drops what came before it in this field; a doubled
            // quote stands for one; what follows the closing quote is dropped.
            text = data + e + 1;
            char* w = text;
            size_t r = e + 1;
            for (;;) {
                size_t at = specials.next(r);
                while (at < size && data[at] != quote) at = specials.next(at + 1);
                if (w != data + r) close_up(w, data + r, at - r);
                w += at - r;
                if (at == size) {
                    e = size;
                    break;
                }
                const char after = data[at + 1];  // the slack byte at the very end
                if (at + 1 < size && after == quote) {
                    *w++ = quote;
                    r = at + 2;
                    continue;
                }
                e = at + 1;
                if (e < size && after != delim && after != '\n')
                    for (e = specials.next(e); e < size && data[e] != delim && data[e] != '\n';) e = specials.next(e + 1);
                break;
            }
            len = static_cast<size_t>(w - text);
        }
        const char end = e < size ? data[e] : '\0';
        text[len] = '\0';
        if (!row.add(text, len)) {
            row.finish(b);
            return 2;
        }
        if (e < size && end == delim) {
            pos = e + 1;
            continue;
        }
        if (!row.finish(b)) return 2;
        if (e + 1 >= size) return 0;  // a line feed at the very end starts no row
        pos = e + 1;
        prefault.advance(pos);
    }
}

// Cuts data[0, size) into rows and fields in place: each text is ended by a
// NUL written over the byte behind it, and doubled quotes are closed up. The
// block must have kArenaSlack writable bytes behind the end and belong to the
// table already. 0, or 2 if memory runs out (the rows read so far are kept).
int parse(CSV_BUFFER* b, char* data, size_t size) {
    const Delims d(b->field_delim, b->text_delim);
    Arena& arena = arena_of(b);
    // Room for the whole table at once, faulted in ahead of the parser; a
    // wrong guess costs only growth (too small) or unused address space.
    const Estimate guess = estimate(data, size, d.field);
    Prefaulter prefault;
    const size_t rows = b->rows;
    if (guess.rows < SIZE_MAX / 16 - rows && reserve(b->field, rows, rows + guess.rows) &&
        reserve(b->width, rows, rows + guess.rows)) {
        prefault.add(b->field + rows, guess.rows * sizeof *b->field);
        prefault.add(b->width + rows, guess.rows * sizeof *b->width);
    }
    const size_t record_bytes = sizeof(CSV_FIELD) + sizeof(CSV_FIELD*);
    if (guess.fields < SIZE_MAX / 2 / record_bytes && arena_reserve(arena, guess.fields * record_bytes))
        prefault.add(arena.cur, guess.fields * record_bytes);
    // Enough room for a table of short fields in the next chunk.
    arena.next_chunk = std::max(arena.next_chunk, std::bit_ceil(std::min(size, kArenaChunk / 2) | 1) * 2);
    prefault.start(size);
    const int rc = cut(b, data, size, d, arena, prefault);
    prefault.stop();
    // Populated pages the table did not need go back; the space stays usable.
    const auto unused = (reinterpret_cast<uintptr_t>(arena.cur) + 4095) & ~uintptr_t{4095};
    const auto end = reinterpret_cast<uintptr_t>(arena.end) & ~uintptr_t{4095};
    if (prefault.started() && end > unused) madvise(reinterpret_cast<void*>(unused), end - unused, MADV_DONTNEED);
    return rc;
}

// Reads the rest of fd into a block from qb::big_alloc with kArenaSlack zero
// bytes behind the data. A read error ends the data like the end of the file.
char* read_all(int fd, size_t* size) {
    struct stat st;
    size_t cap = kIoBlock;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        if (static_cast<uint64_t>(st.st_size) > SIZE_MAX / 2) return nullptr;
        cap = static_cast<size_t>(st.st_size) + 1;  // one more, to see the end at once
    }
    char* data = static_cast<char*>(qb::big_alloc(cap + kArenaSlack));
    // The kernel copies upwards; the helper meets it from the top.
    Prefaulter prefault;
    if (data) prefault.add(data, cap, true);
    prefault.start();
    size_t used = 0;
    while (data) {
        if (used == cap) {
            prefault.stop();  // the block moves
            if (cap > SIZE_MAX / 4) break;
            char* grown = static_cast<char*>(qb::big_realloc(data, 2 * cap + kArenaSlack));
            if (!grown) break;
            data = grown;
            cap *= 2;
        }
        const ssize_t n = read(fd, data + used, cap - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            memset(data + used, 0, kArenaSlack);
            *size = used;
            return data;
        }
        used += static_cast<size_t>(n);
    }
    prefault.stop();
    free(data);
    return nullptr;
}

// Parses a block from qb::big_alloc that the table takes over.
int load_block(CSV_BUFFER* b, char* data, size_t size) {
    if (!data) return 2;
    if (!arena_adopt(arena_of(b), data, size + kArenaSlack)) {
        free(data);
        return 2;
    }
    return parse(b, data, size);
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
    if (out.put_plain(p, len, !in_heap(f), scan)) return;
    out.put_quoted(p, len, d.text);
}

}  // namespace

namespace qb {

int csv_load_memory(CSV_BUFFER* buffer, const char* data, size_t size) {
    if (!buffer) return 1;
    if (size > SIZE_MAX - kArenaSlack) return 2;
    char* copy = static_cast<char*>(qb::big_alloc(size + kArenaSlack));
    if (copy) {
        if (size) memcpy(copy, data, size);
        memset(copy + size, 0, kArenaSlack);
    }
    return load_block(buffer, copy, size);
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
    const int fd = open(file_name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    size_t size = 0;
    char* data = read_all(fd, &size);
    close(fd);
    return load_block(buffer, data, size);
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
    if (!own_row(buffer, row)) return 1;
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
