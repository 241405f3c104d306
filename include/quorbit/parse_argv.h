/** @file
 * Splits an argument line into words in place (no quoting).
 */
#ifndef QB_PARSE_ARGV_H
#define QB_PARSE_ARGV_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** Splits str at blanks and tabs into at most number words (a CR or LF ends
 * the line; text after the last allowed word stays in that word). Stores the
 * word addresses in argv and their count in *argc. 0, or -1 for a NULL argc or argv. */
QB_API int parse_argv(char* str, int* argc, char** argv, int number);

QB_END_DECLS

#endif /* QB_PARSE_ARGV_H */
