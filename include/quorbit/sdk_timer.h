/** @file
 * Polling timer: named periodic callbacks with millisecond intervals, run one
 * after the other by a single thread that makes a pass every millisecond.
 *
 * Callbacks run on the timer's thread and may add or delete entries of their
 * own timer (including their own entry). A callback may also stop its own
 * timer; the thread then releases the handle once the callback has returned.
 */
#ifndef SDK_TIMER_H
#define SDK_TIMER_H

#include "qb_export.h"

QB_BEGIN_DECLS

struct timer_handle;
typedef struct timer_handle* Timer_Handle;

/** name is the entry's name (at most 127 characters), valid during the call. */
typedef void (*Timer_Callback)(Timer_Handle hdl, char* name, void* arg);

/** Empty handle with its polling thread ("timer_thread") started. */
QB_API Timer_Handle sdk_timer_init(void);
/** Adds a named periodic callback: first due interval ms from now, then every interval ms. A null name is
 * empty; a longer name is cut to 127 characters. 0, or -1 for a null handle. */
QB_API int sdk_timer_add_handler(Timer_Handle hdl, char* name, int interval, Timer_Callback cb, void* arg);
/** Removes every entry whose callback is cb. 0, or -1 for a null handle. */
QB_API int sdk_timer_del_handler(Timer_Handle hdl, Timer_Callback cb);
/** Stops the thread and frees the entries and the handle. 0, or -1 for a null handle. */
QB_API int sdk_timer_stop(Timer_Handle hdl);
/** The polling thread's body; arg is the handle. Returns NULL. */
QB_API void* sdk_timer_thread(void* arg);

QB_END_DECLS

#endif /* SDK_TIMER_H */
