/** @file
 * NumPy arrays: NPY files (format version 1.0), named lists of arrays stored as
 * uncompressed NPZ archives, and 24-bit BMP pixel areas wrapped as NPY images.
 *
 * Diagnostics go to standard error; npy_array_dump prints to standard output.
 * Loaders treat their input as untrusted: sizes in a file are checked against
 * the bytes the file (or the archive entry) really holds. */
#ifndef QB_NPY_ARRAY_H
#define QB_NPY_ARRAY_H

#include <stddef.h>
#include <stdint.h>

#include "qb_export.h"

QB_BEGIN_DECLS

#define NPY_ARRAY_MAGIC_STRING "\x93NUMPY"
#define NPY_ARRAY_MAGIC_LENGTH 6
#define NPY_ARRAY_MAX_DIMENSIONS 8
/** The dictionary text must be shorter than this; the written header is always 128 bytes. */
#define HEADER_LEN 108
#define NPY_ARRAY_HEADER_SIZE 128
#define MAX_FILENAME_LEN 80

typedef struct _npy_array_t {
    char* data;                              /**< element bytes, heap, owned by the array */
    size_t shape[NPY_ARRAY_MAX_DIMENSIONS]; /**< extents; entries from ndim on are 0 */
    int32_t ndim;
    char endianness;   /**< '<' little, '>' big, '|' not applicable */
    char typechar;     /**< 'f' float, 'i' signed, 'u' unsigned, 'b' bool, 'c' complex, ... */
    size_t elem_size;  /**< bytes per element */
    int32_t fortran_order; /**< non-zero: data is column-major */
} npy_array_t;

typedef struct _npy_array_list_t {
    npy_array_t* array; /**< owned by the node */
    char* filename;     /**< entry name in the archive (heap), NULL until the writer names it */
    uint32_t crc32;     /**< CRC-32 of the array's NPY image when the node was added */
    struct _npy_array_list_t* next;
} npy_array_list_t;

/** Reads one array; NULL on failure. The caller frees it with npy_array_free. */
QB_API npy_array_t* npy_array_load(const char* filename);
/** Writes the 128-byte header and the data as they are in memory. An array that
 * cannot be described in that header (more than 8 dimensions, a dictionary of
 * 108 characters or more, element size 0) is refused before the file is opened. */
QB_API void npy_array_save(const char* filename, const npy_array_t* m);
/** Frees the data and the array. */
QB_API void npy_array_free(npy_array_t* m);
/** Prints dimensions, shape, type and order on standard output. */
QB_API void npy_array_dump(const npy_array_t* m);

/** Adds a node for array at the end under the printf-formatted name and returns the list's
 * first node. The array belongs to the list from then on. When the name is
 * longer than MAX_FILENAME_LEN characters (or the array cannot be saved) the
 * list is returned unchanged and the array stays the caller's. */
QB_API npy_array_list_t* npy_array_list_append(npy_array_list_t* list, npy_array_t* array,
                                               const char* filename, ...)
    __attribute__((format(printf, 3, 4)));
/** As npy_array_list_append, with the new node first. */
QB_API npy_array_list_t* npy_array_list_prepend(npy_array_list_t* list, npy_array_t* array,
                                                const char* filename, ...)
    __attribute__((format(printf, 3, 4)));
/** The number of nodes (0 for NULL). */
QB_API size_t npy_array_list_length(npy_array_list_t* list);
/** Frees every node with its array and name. */
QB_API void npy_array_list_free(npy_array_list_t* list);

/** Writes the list as an uncompressed ZIP archive, one NPY entry per node
 * (unnamed nodes are named `arr_<n>.npy` in place). Returns the number of
 * entries, 0 for a NULL list (no file is created), -1 when the file cannot be
 * created or written, or when the archive would reach 4 GiB or 65535 entries
 * (refused before the file is opened). */
QB_API int npy_array_list_save(const char* filename, npy_array_list_t* array_list);
/** Reads every stored NPY entry of an archive into a new list (entries that are
 * compressed, encrypted or inconsistent are skipped with a message); NULL when
 * the file is not an archive or holds no readable entry. */
QB_API npy_array_list_t* npy_array_list_load(const char* filename);

/** Builds in *out_buffer an NPY image (shape height x width x 3, '|u1') of the
 * width * height * 3 pixel bytes at buffer + bmp_header_offset, copied as they
 * are; *out_len is 128 + width * height * 3 and the caller frees the block.
 * Returns 0, or -1 (nothing allocated) for non-positive or overflowing sizes. */
QB_API int bmp_to_npy(char* buffer, int bmp_header_offset, int width, int height, char** out_buffer,
                      int* out_len);

QB_END_DECLS

#endif /* QB_NPY_ARRAY_H */
