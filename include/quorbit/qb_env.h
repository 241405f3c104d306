/** @file
 * Component parameters: on the platform from the process environment (the
 * Base64 argument line QB_PARAM, or one variable per parameter such as
 * QB_MQ_TYPE for "--mq-type"), stand-alone from section "env" of qb_env.ini in
 * the working directory. Every value is a fresh heap string the caller frees;
 * NULL means not set. Nothing is cached.
 */
#ifndef QB_ENV_H
#define QB_ENV_H

#include "qb_export.h"

QB_BEGIN_DECLS

/** The parameter config_name (such as "--mq-type"): from the environment when
 * quorbit_valid(), else from qb_env.ini. Heap string or NULL. */
QB_API char* qb_get_env(char* config_name);
/** 1 when "--mq-type" is found in the process environment, else 0. */
QB_API int quorbit_valid(void);
/** Environment look-up; the first entry in environment order that yields a
 * value wins. NULL for keys over 97 characters. */
QB_API char* qb_get_env_real(char* config_name);
/** Look-up of the entry config_name in section "env" of ./qb_env.ini. */
QB_API char* qb_get_fake_env(char* config_name);
/** In place: "-" becomes "_", a-z become upper case, other bytes stay. */
QB_API void str_stransform(char* target);

QB_END_DECLS

#endif /* QB_ENV_H */
