/** @file
 * Version of the Linux peripheral layer (serial.h, i2c.h, spi.h, mmio.h).
 */
#ifndef QB_PERIPHERY_VERSION_H
#define QB_PERIPHERY_VERSION_H

#include "qb_export.h"

QB_BEGIN_DECLS

#define PERIPHERY_VERSION_MAJOR 2
#define PERIPHERY_VERSION_MINOR 0
#define PERIPHERY_VERSION_PATCH 1
#define PERIPHERY_VERSION_COMMIT "unknown"

typedef struct periphery_version {
    unsigned int major;
    unsigned int minor;
    unsigned int patch;
    const char* commit_id;
} periphery_version_t;

/** The peripheral-I/O layer's version as text, "v2.0.1" (a constant string). */
QB_API const char* periphery_version(void);
/** The same version as numbers; a constant record, never NULL. */
QB_API const periphery_version_t* periphery_version_info(void);

QB_END_DECLS

#endif /* QB_PERIPHERY_VERSION_H */
