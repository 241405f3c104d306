/** @file
 * Conventions shared by every public header of this library.
 *
 * - All functions are plain C (extern "C") and are the only exported symbols.
 * - Results: 0 for success, -1 (or another documented negative value) for
 *   failure. Look-ups and constructors return NULL for failure.
 * - "bool" results are signed 32-bit integers: 0 false, non-zero true.
 * - Strings and buffers returned by look-ups and loads are fresh heap blocks
 *   that the caller releases with free(), unless a function says it returns a
 *   pointer into a store or a (thread-local) buffer that the next call on the
 *   same thread overwrites.
 * - Strings passed into callbacks belong to the library and are valid only
 *   during the call.
 */
#ifndef QB_EXPORT_H
#define QB_EXPORT_H

#if defined(QB_BUILDING_LIBRARY)
#define QB_API __attribute__((visibility("default")))
#else
#define QB_API
#endif

#ifdef __cplusplus
#define QB_BEGIN_DECLS extern "C" {
#define QB_END_DECLS }
#else
#define QB_BEGIN_DECLS
#define QB_END_DECLS
#endif

#endif /* QB_EXPORT_H */
