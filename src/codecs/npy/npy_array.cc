// NPY files (format 1.0): the header parser and reader over byte sources, the
// writer, and the named array lists that NPZ archives are made of.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/crc32_internal.h"
#include "codecs/npy/npy_io.h"
#include "foundation/big_alloc.h"
#include "foundation/file_space.h"

namespace qb::npy {
namespace {

constexpr char kHostOrder = std::endian::native == std::endian::little ? '<' : '>';
constexpr size_t kMaxReadDimensions = 7;
// Growth step when the end of the input is unknown: a header may claim any size.
constexpr size_t kGrowStep = size_t{16} << 20;

const char* printable(const char* s) { return s ? s : "(null)"; }

// Runs of decimal digits as a size, refusing overflow.
bool parse_digits(const char*& p, size_t* out) {
    size_t v = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
        if (__builtin_mul_overflow(v, size_t{10}, &v) || __builtin_add_overflow(v, size_t(*p - '0'), &v))
            return false;
        ++p;
    }
    *out = v;
    return true;
}

char* read_block(Source& src, uint64_t bytes, uint64_t avail) {
    if (bytes > SIZE_MAX - 1) return nullptr;
    const size_t n = static_cast<size_t>(bytes);
    if (avail != kUnknownSize) {
        // The end is known and already checked: one allocation and one read.
        char* data = static_cast<char*>(qb::big_alloc(n));
        if (!data) {
            fprintf(stderr, "Cannot allocate memory for matrix data.\n");
            return nullptr;
        }
        if (src.read(data, n) != n) {
            fprintf(stderr, "Could not read all data.\n");
            free(data);
            return nullptr;
        }
        return data;
    }
    // Unknown end (a pipe): the block grows only with data that really arrived.
    size_t cap = std::min(n, kGrowStep);
    char* data = static_cast<char*>(qb::big_alloc(cap));
    size_t got = 0;
    while (data && got < n) {
        if (got == cap) {
            const size_t next = std::min(n, cap + std::max(cap, kGrowStep));
            char* grown = static_cast<char*>(qb::big_realloc(data, next));
            if (!grown) break;
            data = grown;
            cap = next;
        }
        const size_t r = src.read(data + got, cap - got);
        if (r == 0) break;
        got += r;
    }
    if (!data) {
        fprintf(stderr, "Cannot allocate memory for matrix data.\n");
        return nullptr;
    }
    if (got != n) {
        fprintf(stderr, "Could not read all data.\n");
        free(data);
        return nullptr;
    }
    return data;
}

bool write_all(FILE* f, const void* data, uint64_t n) {
    return n == 0 || fwrite(data, 1, static_cast<size_t>(n), f) == n;
}

}  // namespace

uint64_t Source::remaining() {
    const uint64_t total = size();
    if (total == kUnknownSize) return kUnknownSize;
    const uint64_t pos = tell();
    return pos < total ? total - pos : 0;
}

FileSource::FileSource(FILE* f) : f_(f), size_(kUnknownSize) {
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
}

size_t FileSource::read(void* dst, size_t n) { return n ? fread(dst, 1, n, f_) : 0; }

bool FileSource::seek(uint64_t pos) {
    return pos <= static_cast<uint64_t>(INT64_MAX) && fseeko(f_, static_cast<off_t>(pos), SEEK_SET) == 0;
}

uint64_t FileSource::tell() {
    const off_t pos = ftello(f_);
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

size_t MemorySource::read(void* dst, size_t n) {
    const size_t take = std::min(n, size_ - pos_);
    if (take) memcpy(dst, data_ + pos_, take);
    pos_ += take;
    return take;
}

bool MemorySource::seek(uint64_t pos) {
    if (pos > size_) return false;
    pos_ = static_cast<size_t>(pos);
    return true;
}

bool parse_header(const char* text, npy_array_t* m) {
    const char* p = strstr(text, "'descr': '");
    if (!p) {
        fprintf(stderr, "Missing 'descr' in header.\n");
        return false;
    }
    p += strlen("'descr': '");
    if (*p == '<' || *p == '>' || *p == '|') {
        m->endianness = *p;
        // Kept as the file has it: no byte swapping.
        if (*p != '|' && *p != kHostOrder) fprintf(stderr, "Warning: Endianess of system and file does not match.");
        ++p;
    } else {
        fprintf(stderr, "Warning: Endianness not found.");
        m->endianness = '|';
    }
    m->typechar = *p;
    if (*p != '\0') ++p;
    size_t elem = 0;
    if (m->typechar == '\0' || !parse_digits(p, &elem) || elem == 0) {
        fprintf(stderr, "Invalid element size.\n");
        return false;
    }
    m->elem_size = elem;

    p = strstr(text, "'fortran_order': ");
    if (!p) {
        fprintf(stderr, "Missing 'fortran_order' in header.\n");
        return false;
    }
    p += strlen("'fortran_order': ");
    if (strncmp(p, "True", 4) == 0) {
        m->fortran_order = 1;
    } else if (strncmp(p, "False", 5) == 0) {
        m->fortran_order = 0;
    } else {
        fprintf(stderr, "Warning: No matrix order found, assuming fortran_order=False");
        m->fortran_order = 0;
    }

    p = strstr(text, "'shape': ");
    if (!p) {
        fprintf(stderr, "Missing 'shape' in header.\n");
        return false;
    }
    p += strlen("'shape': ");
    m->ndim = 0;
    while (*p && *p != ')') {
        if (!isdigit(static_cast<unsigned char>(*p))) {
            ++p;
            continue;
        }
        size_t extent = 0;
        if (!parse_digits(p, &extent)) {
            fprintf(stderr, "Array size overflows.\n");
            return false;
        }
        if (static_cast<size_t>(m->ndim) >= kMaxReadDimensions) {
            fprintf(stderr, "Too many dimensions.\n");
            return false;
        }
        m->shape[m->ndim++] = extent;
    }
    return true;
}

bool data_size(const npy_array_t* m, uint64_t* size) {
    if (m->ndim < 0 || m->ndim > NPY_ARRAY_MAX_DIMENSIONS) return false;
    uint64_t count = 1;
    bool empty = false;
    for (int i = 0; i < m->ndim; ++i) empty |= m->shape[i] == 0;
    if (empty) {
        count = 0;
    } else {
        for (int i = 0; i < m->ndim; ++i)
            if (__builtin_mul_overflow(count, uint64_t{m->shape[i]}, &count)) return false;
    }
    return !__builtin_mul_overflow(count, uint64_t{m->elem_size}, size);
}

npy_array_t* read_array(Source& src, uint64_t limit) {
    uint64_t avail = std::min(limit, src.remaining());
    unsigned char pre[10];
    if ((avail != kUnknownSize && avail < sizeof pre) || src.read(pre, sizeof pre) != sizeof pre) {
        fprintf(stderr, "Cannot read pre header bytes.\n");
        return nullptr;
    }
    if (avail != kUnknownSize) avail -= sizeof pre;
    if (memcmp(pre, NPY_ARRAY_MAGIC_STRING, NPY_ARRAY_MAGIC_LENGTH) != 0) {
        fprintf(stderr, "File format not recognised as numpy array.\n");
        return nullptr;
    }
    if (pre[6] != 1) {
        fprintf(stderr, "Wrong numpy save version. Expected version 1.x This is version %d.%d\n", pre[6], pre[7]);
        return nullptr;
    }
    const size_t header_len = pre[8] + 256u * pre[9];
    // One byte more for a terminator: the text is searched as a C string.
    char* text = static_cast<char*>(malloc(header_len + 1));
    if (!text || (avail != kUnknownSize && header_len > avail) || src.read(text, header_len) != header_len) {
        fprintf(stderr, "Cannot read header. %d bytes.\n", static_cast<int>(header_len));
        free(text);
        return nullptr;
    }
    text[header_len] = '\0';
    if (avail != kUnknownSize) avail -= header_len;

    auto* m = static_cast<npy_array_t*>(calloc(1, sizeof(npy_array_t)));
    if (!m) {
        fprintf(stderr, "Cannot allocate memory dor matrix structure.\n");
        free(text);
        return nullptr;
    }
    const bool parsed = parse_header(text, m);
    free(text);
    uint64_t bytes = 0;
    if (parsed && !data_size(m, &bytes)) fprintf(stderr, "Array size overflows.\n");
    else if (parsed && avail != kUnknownSize && bytes > avail) fprintf(stderr, "Could not read all data.\n");
    else if (parsed) m->data = read_block(src, bytes, avail);
    if (!m->data) {
        free(m);
        return nullptr;
    }
    return m;
}

bool build_header(const npy_array_t* m, char header[NPY_ARRAY_HEADER_SIZE], uint64_t* data_bytes) {
    if (m->ndim < 0) {
        fprintf(stderr, "Invalid number of dimensions.\n");
        return false;
    }
    if (m->ndim > NPY_ARRAY_MAX_DIMENSIONS) {
        fprintf(stderr, "Too many dimensions.\n");
        return false;
    }
    if (m->elem_size == 0) {
        fprintf(stderr, "Invalid element size.\n");
        return false;
    }
    if (!strchr("<>|", m->endianness) || m->endianness == '\0' || !isalnum(static_cast<unsigned char>(m->typechar))) {
        fprintf(stderr, "Invalid type descriptor.\n");
        return false;
    }
    if (!data_size(m, data_bytes)) {
        fprintf(stderr, "Array size overflows.\n");
        return false;
    }
    if (*data_bytes > 0 && !m->data) {
        fprintf(stderr, "Warning: No matrix found. (%s)\n", "npy_array_save");
        return false;
    }
    char shape[NPY_ARRAY_MAX_DIMENSIONS * 24] = "";
    size_t used = 0;
    for (int i = 0; i < m->ndim; ++i)
        used += static_cast<size_t>(snprintf(shape + used, sizeof shape - used, i ? ", %zu" : "%zu", m->shape[i]));
    if (m->ndim == 1) snprintf(shape + used, sizeof shape - used, ",");
    char dict[sizeof shape + 96];
    const int len = snprintf(dict, sizeof dict, "{'descr': '%c%c%zu', 'fortran_order': %s, 'shape': (%s), }",
                             m->endianness, m->typechar, m->elem_size, m->fortran_order ? "True" : "False", shape);
    if (len < 0 || len >= HEADER_LEN) {
        fprintf(stderr, "Header too long.\n");
        return false;
    }
    memcpy(header, NPY_ARRAY_MAGIC_STRING, NPY_ARRAY_MAGIC_LENGTH);
    header[6] = 1;
    header[7] = 0;
    header[8] = NPY_ARRAY_HEADER_SIZE - 10;
    header[9] = 0;
    memcpy(header + 10, dict, static_cast<size_t>(len));
    memset(header + 10 + len, ' ', static_cast<size_t>(NPY_ARRAY_HEADER_SIZE - 11 - len));
    header[NPY_ARRAY_HEADER_SIZE - 1] = '\n';
    return true;
}

uint32_t image_crc(const char header[NPY_ARRAY_HEADER_SIZE], const npy_array_t* m, uint64_t data_bytes) {
    const uint32_t crc = qb::crc32_update(0, header, NPY_ARRAY_HEADER_SIZE);
    return qb::crc32_update(crc, m->data, static_cast<size_t>(data_bytes));
}

bool list_add(npy_array_list_t*& list, npy_array_t* array, const char* name, bool at_end) {
    if (!array) {
        fprintf(stderr, "Warning: No matrix found. (%s)\n", at_end ? "npy_array_list_append" : "npy_array_list_prepend");
        return false;
    }
    if (name && strlen(name) > MAX_FILENAME_LEN) {
        fprintf(stderr,
                "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to %d "
                "characters.\n",
                MAX_FILENAME_LEN);
        return false;
    }
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t bytes = 0;
    if (!build_header(array, header, &bytes)) return false;
    auto* node = static_cast<npy_array_list_t*>(calloc(1, sizeof(npy_array_list_t)));
    char* copy = name ? strdup(name) : nullptr;
    if (!node || (name && !copy)) {
        free(node);
        free(copy);
        return false;
    }
    node->array = array;
    node->filename = copy;
    node->crc32 = image_crc(header, array, bytes);
    if (!at_end || !list) {
        node->next = list;
        list = node;
        return true;
    }
    npy_array_list_t* last = list;
    while (last->next) last = last->next;
    last->next = node;
    return true;
}

}  // namespace qb::npy

namespace {

npy_array_list_t* list_add_formatted(npy_array_list_t* list, npy_array_t* array, const char* format, va_list ap,
                                     bool at_end) {
    if (!format) {
        qb::npy::list_add(list, array, nullptr, at_end);
        return list;
    }
    char name[MAX_FILENAME_LEN + 2];
    const int len = vsnprintf(name, sizeof name, format, ap);
    if (len < 0) return list;
    if (static_cast<size_t>(len) >= sizeof name) {
        // Longer than the limit: let list_add print the warning with a name of that length.
        memset(name, 'x', sizeof name - 1);
        name[sizeof name - 1] = '\0';
    }
    qb::npy::list_add(list, array, name, at_end);
    return list;
}

}  // namespace

extern "C" {

QB_API npy_array_t* npy_array_load(const char* filename) {
    FILE* f = filename ? fopen(filename, "rb") : nullptr;
    if (!f) {
        const int err = filename ? errno : ENOENT;
        fprintf(stderr, "Cannot open '%s' for reading.\n", qb::npy::printable(filename));
        errno = err;
        perror("Error");
        return nullptr;
    }
    qb::npy::FileSource src(f);
    npy_array_t* m = qb::npy::read_array(src, qb::npy::kUnknownSize);
    fclose(f);
    if (!m) fprintf(stderr, "Cannot read matrix.\n");
    return m;
}

QB_API void npy_array_save(const char* filename, const npy_array_t* m) {
    if (!m) {
        fprintf(stderr, "Warning: No matrix found. (%s)\n", "npy_array_save");
        return;
    }
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t bytes = 0;
    // Checked before the file is opened, so a refused array leaves any old file intact.
    if (!qb::npy::build_header(m, header, &bytes)) return;
    FILE* f = filename ? fopen(filename, "wb") : nullptr;
    if (!f) {
        const int err = filename ? errno : ENOENT;
        fprintf(stderr, "Cannot open '%s' for writing.\n", qb::npy::printable(filename));
        errno = err;
        perror("Error");
        return;
    }
    qb::reserve_file_space(fileno(f), sizeof header + bytes);
    if (!qb::npy::write_all(f, header, sizeof header)) {
        fprintf(stderr, "Could not write header data.\n");
    } else if (!qb::npy::write_all(f, m->data, bytes)) {
        fprintf(stderr, "Could not write all data.\n");
    } else if (fflush(f) != 0) {
        fprintf(stderr, "Could not write all data.\n");
    }
    fclose(f);
}

QB_API void npy_array_free(npy_array_t* m) {
    if (!m) {
        fprintf(stderr, "Warning: No matrix found. (%s)\n", "npy_array_free");
        return;
    }
    free(m->data);
    free(m);
}

QB_API void npy_array_dump(const npy_array_t* m) {
    if (!m) {
        fprintf(stderr, "Warning: No matrix found. (%s)\n", "npy_array_dump");
        return;
    }
    const int ndim = std::clamp(m->ndim, 0, NPY_ARRAY_MAX_DIMENSIONS);
    printf("Dimensions   : %d\n", m->ndim);
    printf("Shape        : ( ");
    for (int i = 0; i < ndim; ++i) printf(i + 1 < ndim ? "%zu, " : "%zu", m->shape[i]);
    printf(")\n");
    printf("Type         : '%c' ", m->typechar);
    printf("(%zu bytes each element)\n", m->elem_size);
    printf("Fortran order: %s\n", m->fortran_order ? "True" : "False");
}

QB_API npy_array_list_t* npy_array_list_append(npy_array_list_t* list, npy_array_t* array, const char* filename,
                                               ...) {
    va_list ap;
    va_start(ap, filename);
    npy_array_list_t* out = list_add_formatted(list, array, filename, ap, true);
    va_end(ap);
    return out;
}

QB_API npy_array_list_t* npy_array_list_prepend(npy_array_list_t* list, npy_array_t* array, const char* filename,
                                                ...) {
    va_list ap;
    va_start(ap, filename);
    npy_array_list_t* out = list_add_formatted(list, array, filename, ap, false);
    va_end(ap);
    return out;
}

QB_API size_t npy_array_list_length(npy_array_list_t* list) {
    size_t n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

QB_API void npy_array_list_free(npy_array_list_t* list) {
    while (list) {
        npy_array_list_t* next = list->next;
        if (list->array) {
            free(list->array->data);
            free(list->array);
        }
        free(list->filename);
        free(list);
        list = next;
    }
}

}  // extern "C"
