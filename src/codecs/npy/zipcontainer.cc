// NPZ archives: an uncompressed ZIP with one NPY entry per named array.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "codecs/crc32_internal.h"
#include "codecs/npy/npy_io.h"
#include "dostime.h"
#include "foundation/file_space.h"
#include "zipcontainer.h"

namespace qb::npy {
namespace {

constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionMadeBy = 0x0314;
constexpr uint32_t kExternalAttributes = 0x01A40000;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagDataDescriptor = 8;
constexpr uint16_t kZip64ExtraId = 0x0001;
// 0xFFFF entries and 0xFFFFFFFF offsets mean "see ZIP64", which this writer does not produce.
constexpr size_t kMaxEntries = 0xFFFE;
constexpr uint64_t kMaxArchive = 0xFFFFFFFEull;
// Data goes out in pieces that stay in cache between checksum and write.
constexpr uint64_t kPiece = uint64_t{1} << 20;

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}
uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const unsigned char* p) { return get16(p) | static_cast<uint32_t>(get16(p + 2)) << 16; }
uint64_t get64(const unsigned char* p) { return get32(p) | static_cast<uint64_t>(get32(p + 4)) << 32; }

struct Entry {
    npy_array_list_t* node;
    char header[NPY_ARRAY_HEADER_SIZE];
    uint64_t data_bytes;
    uint32_t crc;
    uint32_t offset;
    uint16_t name_len;
    uint32_t image_size() const { return static_cast<uint32_t>(NPY_ARRAY_HEADER_SIZE + data_bytes); }
};

// Names unnamed nodes and checks that every entry and the whole archive fit
// the 16- and 32-bit fields, before anything is written.
bool plan(const char* filename, npy_array_list_t* list, std::vector<Entry>& entries, uint64_t* cd_offset,
          uint32_t* cd_size) {
    uint64_t offset = 0, cd = 0;
    int n = 0;
    for (npy_array_list_t* node = list; node; node = node->next, ++n) {
        if (entries.size() >= kMaxEntries) {
            fprintf(stderr, "Cannot save '%s': more than %zu arrays in one archive.\n", filename, kMaxEntries);
            return false;
        }
        if (!node->filename) {
            char name[32];
            snprintf(name, sizeof name, "arr_%d.npy", n);
            node->filename = strdup(name);
            if (!node->filename) return false;
        }
        Entry e{};
        e.node = node;
        if (!node->array || !build_header(node->array, e.header, &e.data_bytes)) return false;
        const size_t name_len = strlen(node->filename);
        if (name_len > 0xFFFF) {
            fprintf(stderr, "Cannot save '%s': an entry name is too long.\n", filename);
            return false;
        }
        e.name_len = static_cast<uint16_t>(name_len);
        e.offset = static_cast<uint32_t>(offset);
        offset += LOCAL_HEADER_LENGTH + name_len + NPY_ARRAY_HEADER_SIZE;
        offset += e.data_bytes > kMaxArchive ? kMaxArchive : e.data_bytes;
        cd += CENTRAL_DIRECTORY_HEADER_LENGTH + name_len;
        if (offset + cd + END_OF_CENTRAL_DIR_LENGTH > kMaxArchive) {
            fprintf(stderr, "Cannot save '%s': the archive would reach 4 GiB.\n", filename);
            return false;
        }
        entries.push_back(e);
    }
    *cd_offset = offset;
    *cd_size = static_cast<uint32_t>(cd);
    return true;
}

bool put(FILE* f, const void* p, uint64_t n) { return n == 0 || fwrite(p, 1, static_cast<size_t>(n), f) == n; }

void local_header(unsigned char* h, const Entry& e, dostime_t when) {
    put32(h, LOCAL_HEADER_SIGNATURE);
    put16(h + 4, kVersionNeeded);
    put16(h + 6, 0);
    put16(h + 8, 0);
    put16(h + 10, when & 0xFFFF);
    put16(h + 12, when >> 16);
    put32(h + 14, e.crc);
    put32(h + 18, e.image_size());
    put32(h + 22, e.image_size());
    put16(h + 26, e.name_len);
    put16(h + 28, 0);
}

// Writes the local header and the NPY image. On a seekable file the CRC is
// computed piece by piece just before each piece is written (one pass over
// the data while it is in cache) and patched into the header afterwards;
// otherwise it is computed first.
bool write_entry(FILE* f, Entry& e, dostime_t when) {
    const off_t start = ftello(f);
    const bool patch = start >= 0;
    if (!patch) e.crc = image_crc(e.header, e.node->array, e.data_bytes);
    unsigned char h[LOCAL_HEADER_LENGTH];
    local_header(h, e, when);
    if (!put(f, h, sizeof h) || !put(f, e.node->filename, e.name_len) || !put(f, e.header, sizeof e.header)) {
        fprintf(stderr, "Could not write header data.\n");
        return false;
    }
    uint32_t crc = qb::crc32_update(0, e.header, sizeof e.header);
    const char* data = e.node->array->data;
    for (uint64_t done = 0; done < e.data_bytes;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPiece, e.data_bytes - done));
        if (patch) crc = qb::crc32_update(crc, data + done, piece);
        if (!put(f, data + done, piece)) {
            fprintf(stderr, "Could not write all data.\n");
            return false;
        }
        done += piece;
    }
    if (!patch) return true;
    e.crc = crc;
    unsigned char c[4];
    put32(c, crc);
    const off_t end = ftello(f);
    if (end < 0 || fseeko(f, start + 14, SEEK_SET) != 0 || !put(f, c, sizeof c) || fseeko(f, end, SEEK_SET) != 0) {
        fprintf(stderr, "Could not write header data.\n");
        return false;
    }
    return true;
}

bool write_central(FILE* f, const Entry& e, dostime_t when) {
    unsigned char h[CENTRAL_DIRECTORY_HEADER_LENGTH] = {};
    put32(h, CENTRAL_DIRECTORY_HEADER_SIGNATURE);
    put16(h + 4, kVersionMadeBy);
    put16(h + 6, kVersionNeeded);
    put16(h + 12, when & 0xFFFF);
    put16(h + 14, when >> 16);
    put32(h + 16, e.crc);
    put32(h + 20, e.image_size());
    put32(h + 24, e.image_size());
    put16(h + 28, e.name_len);
    put32(h + 38, kExternalAttributes);
    put32(h + 42, e.offset);
    return put(f, h, sizeof h) && put(f, e.node->filename, e.name_len);
}

struct LocalEntry {
    uint16_t flags = 0, method = 0;
    uint64_t compressed = 0, uncompressed = 0;
    std::string name;
};

// Sizes of 0xFFFFFFFF stand for the 64-bit ones in the ZIP64 extra field
// (Python's zipfile writes that field for every NumPy savez entry).
bool zip64_sizes(const std::vector<unsigned char>& extra, LocalEntry& e) {
    for (size_t i = 0; i + 4 <= extra.size();) {
        const uint16_t id = get16(&extra[i]);
        const uint16_t len = get16(&extra[i + 2]);
        if (i + 4 + len > extra.size()) return false;
        if (id == kZip64ExtraId && len >= 16) {
            e.uncompressed = get64(&extra[i + 4]);
            e.compressed = get64(&extra[i + 12]);
            return true;
        }
        i += 4 + size_t{len};
    }
    return false;
}

}  // namespace

npy_array_list_t* read_archive(Source& src) {
    npy_array_list_t* list = nullptr;
    for (;;) {
        unsigned char h[LOCAL_HEADER_LENGTH];
        const uint64_t start = src.tell();
        if (src.read(h, sizeof h) != sizeof h) {
            fprintf(stderr, "Cannot read header.\n");
            break;
        }
        if (get32(h) != LOCAL_HEADER_SIGNATURE) {
            src.seek(start);  // the central directory
            break;
        }
        LocalEntry e;
        e.flags = get16(h + 6);
        e.method = get16(h + 8);
        e.compressed = get32(h + 18);
        e.uncompressed = get32(h + 22);
        const uint16_t name_len = get16(h + 26);
        const uint16_t extra_len = get16(h + 28);
        e.name.resize(name_len);
        const size_t got = src.read(e.name.data(), name_len);
        if (got != name_len) {
            fprintf(stderr, "%d != %d.\n", static_cast<int>(got), name_len);
            break;
        }
        std::vector<unsigned char> extra(extra_len);
        if (src.read(extra.data(), extra_len) != extra_len) {
            fprintf(stderr, "Incorrect read.\n");
            break;
        }
        const char* name = e.name.c_str();
        if (e.flags & kFlagDataDescriptor) {
            fprintf(stderr, "No support for streamed datafiles with data descriptor.\n");
            break;
        }
        if ((e.compressed == 0xFFFFFFFFu || e.uncompressed == 0xFFFFFFFFu) && !zip64_sizes(extra, e)) {
            fprintf(stderr, "local file '%s' has inconsistent sizes. Skipping.\n", name);
            break;  // its length is unknown
        }
        const uint64_t data_start = src.tell();
        const uint64_t left = src.remaining();
        if (left != kUnknownSize && e.compressed > left) {
            fprintf(stderr, "local file '%s' has inconsistent sizes. Skipping.\n", name);
            break;
        }
        const uint64_t next = data_start + e.compressed;
        if (e.method != 0) {
            fprintf(stderr, "local file '%s' is compressed. Skipping.\n", name);
            fprintf(stderr,
                    "Still no support for reading compressed files.\nPlease store numpy array with np.savez() "
                    "instead of np.savez_compressed().\n");
        } else if (e.flags & kFlagEncrypted) {
            fprintf(stderr, "local file '%s' is encrypted. Skipping.\n", name);
        } else if (e.compressed != e.uncompressed) {
            fprintf(stderr, "local file '%s' has inconsistent sizes. Skipping.\n", name);
        } else if (memchr(e.name.data(), '\0', e.name.size()) || e.name.empty()) {
            fprintf(stderr, "local file '%s' has an invalid name. Skipping.\n", name);
        } else if (e.name.size() > MAX_FILENAME_LEN) {
            fprintf(stderr,
                    "Warning: Cannot save neural network. Your filename is too long. Please limit the filename to %d "
                    "characters.\n",
                    MAX_FILENAME_LEN);
        } else if (npy_array_t* m = read_array(src, e.compressed)) {
            // The name goes in as data, never as a format.
            if (!list_add(list, m, name, true)) {
                free(m->data);
                free(m);
            }
        } else {
            fprintf(stderr, "Cannot read matrix.\n");
        }
        // Whatever the entry held, the next header starts right after its bytes.
        if (!src.seek(next)) break;
    }
    return list;
}

}  // namespace qb::npy

extern "C" {

QB_API int npy_array_list_save(const char* filename, npy_array_list_t* array_list) {
    if (!array_list) return 0;
    const char* shown = filename ? filename : "(null)";
    std::vector<qb::npy::Entry> entries;
    uint64_t cd_offset = 0;
    uint32_t cd_size = 0;
    if (!qb::npy::plan(shown, array_list, entries, &cd_offset, &cd_size)) return -1;
    FILE* f = filename ? fopen(filename, "wb") : nullptr;
    if (!f) {
        fprintf(stderr, "Cannot open file '%s' for writing\n", shown);
        return -1;
    }
    qb::reserve_file_space(fileno(f), cd_offset + cd_size + END_OF_CENTRAL_DIR_LENGTH);
    // One time stamp for the whole archive, so local and central headers agree.
    const dostime_t when = unix2dostime(time(nullptr));
    bool ok = true;
    for (auto& e : entries)
        if (!(ok = qb::npy::write_entry(f, e, when))) break;
    for (size_t i = 0; ok && i < entries.size(); ++i) ok = qb::npy::write_central(f, entries[i], when);
    if (ok) {
        unsigned char end[END_OF_CENTRAL_DIR_LENGTH] = {};
        qb::npy::put32(end, END_OF_CENTRAL_DIR_SIGNATURE);
        qb::npy::put16(end + 8, static_cast<uint32_t>(entries.size()));
        qb::npy::put16(end + 10, static_cast<uint32_t>(entries.size()));
        qb::npy::put32(end + 12, cd_size);
        qb::npy::put32(end + 16, static_cast<uint32_t>(cd_offset));
        ok = qb::npy::put(f, end, sizeof end);
    }
    if (fclose(f) != 0) ok = false;
    return ok ? static_cast<int>(entries.size()) : -1;
}

QB_API npy_array_list_t* npy_array_list_load(const char* filename) {
    FILE* f = filename ? fopen(filename, "rb") : nullptr;
    if (!f) {
        const int err = filename ? errno : ENOENT;
        fprintf(stderr, "Cannot open '%s' for reading.\n", filename ? filename : "(null)");
        errno = err;
        perror("Error");
        return nullptr;
    }
    qb::npy::FileSource src(f);
    unsigned char magic[4];
    if (src.read(magic, sizeof magic) != sizeof magic) {
        fprintf(stderr, "Warning: cannot read from '%s'.\n", filename);
        fclose(f);
        return nullptr;
    }
    npy_array_list_t* list = nullptr;
    if (magic[0] == 'P' && magic[1] == 'K' && src.seek(0)) list = qb::npy::read_archive(src);
    fclose(f);
    return list;
}

}  // extern "C"
