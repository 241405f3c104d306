// NPY reading and writing over byte sources, shared by the NPY and NPZ loaders
// and their fuzz targets. The parser never reads past the end it is given.
#pragma once

#include <cstdint>
#include <cstdio>

#include "npy_array.h"

namespace qb::npy {

constexpr uint64_t kUnknownSize = UINT64_MAX;

// A readable, seekable run of bytes whose end is known where possible, so that
// sizes claimed by the input can be checked before anything is allocated.
class Source {
public:
    virtual ~Source() = default;
    virtual size_t read(void* dst, size_t n) = 0;
    virtual bool seek(uint64_t pos) = 0;
    virtual uint64_t tell() = 0;
    virtual uint64_t size() = 0;  // kUnknownSize for pipes and the like
    // Bytes left before the end, or kUnknownSize.
    uint64_t remaining();
};

class FileSource final : public Source {
public:
    explicit FileSource(FILE* f);
    size_t read(void* dst, size_t n) override;
    bool seek(uint64_t pos) override;
    uint64_t tell() override;
    uint64_t size() override { return size_; }

private:
    FILE* f_;
    uint64_t size_;
};

class MemorySource final : public Source {
public:
    MemorySource(const void* data, size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    size_t read(void* dst, size_t n) override;
    bool seek(uint64_t pos) override;
    uint64_t tell() override { return pos_; }
    uint64_t size() override { return size_; }

private:
    const unsigned char* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Reads one array at the current position using at most `limit` bytes
// (kUnknownSize: up to the source's end). NULL after printing the reason.
npy_array_t* read_array(Source& src, uint64_t limit);

// Parses the header text (NUL-terminated) into m's descriptor, order and shape.
bool parse_header(const char* text, npy_array_t* m);

// Element count times element size, or false when it overflows or the array
// cannot be described (ndim out of range).
bool data_size(const npy_array_t* m, uint64_t* size);

// The 128-byte header of m; false (after printing why) when m cannot be saved
// as a well-formed file. Nothing is written anywhere.
bool build_header(const npy_array_t* m, char header[NPY_ARRAY_HEADER_SIZE], uint64_t* data_bytes);

// CRC-32 of the NPY image (header and data).
uint32_t image_crc(const char header[NPY_ARRAY_HEADER_SIZE], const npy_array_t* m, uint64_t data_bytes);

// Adds a node with a literal name (NULL: unnamed); false, with the list
// unchanged and the array still the caller's, when it is refused.
bool list_add(npy_array_list_t*& list, npy_array_t* array, const char* name, bool at_end);

// Walks the local headers of an archive in src (positioned at its start).
npy_array_list_t* read_archive(Source& src);

}  // namespace qb::npy
