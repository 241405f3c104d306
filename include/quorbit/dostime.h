/** @file
 * MS-DOS date and time as stored in ZIP headers.
 */
#ifndef QB_DOSTIME_H
#define QB_DOSTIME_H

#include <stdint.h>
#include <time.h>

#include "qb_export.h"

QB_BEGIN_DECLS

/** Time in the low 16 bits (hour << 11 | minute << 5 | second / 2), date in the
 * high 16 bits ((year - 1980) << 9 | month << 5 | day). */
typedef uint32_t dostime_t;

/** Packs a calendar time; 0 when a field is out of range (years 1980..2107). */
QB_API dostime_t dostime(int year, int month, int day, int hour, int minute, int second);
/** Packs a POSIX time in local time, rounded up to an even second. */
QB_API dostime_t unix2dostime(time_t unix_time);
/** Unpacks to a POSIX time (local time, daylight saving left to the system);
 * -1 when a field is out of range. */
QB_API time_t dos2unixtime(dostime_t dostime);
/** The earliest packable time, 1980-01-01 00:00:00. */
QB_API dostime_t mindostime(void);
/** The latest packable time, 2107-12-31 23:59:58. */
QB_API dostime_t maxdostime(void);

QB_END_DECLS

#endif /* QB_DOSTIME_H */
