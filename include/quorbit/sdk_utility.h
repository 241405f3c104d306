/** @file
 * One include for the foundation services: logging, OS helpers, lists, the
 * FIFO, timers, the configuration store, JSON paths, files and strings. */
#ifndef SDK_UTILITY_H
#define SDK_UTILITY_H

#include "sdk_config.h"
#include "sdk_logger.h"
#include "sdk_os.h"
#include "sdk_list.h"
#include "uuid4.h"
#include "sdk_fifo.h"
#ifdef ENABLE_SDK_TIMER
#include "sdk_timer.h"
#include "sdk_timer2.h"
#endif
#include "config_file.h"
#include "json_easy.h"
#include "sdk_file_ops.h"
#include "sdk_string.h"
#include "base64.h"
#include "parse_argv.h"

#endif /* SDK_UTILITY_H */
