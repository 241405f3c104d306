/** @file
 * Random identifiers: 32 lower-case hex characters, version nibble 4.
 */
#ifndef UUID4_H
#define UUID4_H

#include "qb_export.h"

QB_BEGIN_DECLS

#define UUID4_VERSION "1.0.0"
#define UUID4_LEN 37

enum { UUID4_ESUCCESS = 0, UUID4_EFAILURE = -1 };

/** Seeds the generator from /dev/urandom (or getrandom); UUID4_EFAILURE when only
 * the clock was available. uuid4_generate seeds itself if this was never called. */
QB_API int uuid4_init(void);
/** Writes a fresh identifier and its terminator; dst must hold UUID4_LEN bytes. Thread-safe. */
QB_API void uuid4_generate(char* dst);

QB_END_DECLS

#endif /* UUID4_H */
