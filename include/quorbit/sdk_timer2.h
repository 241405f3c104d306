/** @file
 * Kernel timer service: each action owns a timerfd, and one watcher thread
 * waits for all of them with epoll. Handlers run on the watcher thread, one
 * after the other; several expirations since the last wake give one call.
 */
#ifndef SDK_TIMER2_H
#define SDK_TIMER2_H

#include <time.h>

#include "qb_export.h"

QB_BEGIN_DECLS

/** The most ready actions the watcher takes from one wait. */
#define MAX_TIMED_ACTIONS 1024

struct timed_action_notifier;
typedef struct timed_action_notifier* Timer2_Handle;

struct timed_action;
typedef struct timed_action timed_action_t;
typedef timed_action_t* Timer2_Action;

/** interval_ms is the action's period (0 for a one-shot action). */
typedef void (*timed_action_handler)(int interval_ms, void* arg);

/** Starts a kernel-timer watcher; NULL if the epoll descriptor or the watcher thread cannot be created. */
QB_API Timer2_Handle sdk_timer2_init(void);
/** Adds a periodic action: first due after ms, then every ms; 0 ms never fires. NULL on failure
 * (null handle or handler, no timer descriptor, negative ms). */
QB_API Timer2_Action sdk_timer2_add_handler(Timer2_Handle hdl, int ms, timed_action_handler handler, void* arg);
/** Adds a one-shot action, due once after sec seconds and nsec nanoseconds; 0 and 0 never fires. The
 * action stays registered until it is deleted. NULL on failure. */
QB_API Timer2_Action sdk_timer2_add_handler_oneshot(Timer2_Handle hdl, time_t sec, long nsec,
                                                    timed_action_handler handler, void* arg);
/** Marks the action stopped; the watcher frees it shortly after. The action
 * must not be used afterwards. 0, or -1 for a null handle or action. */
QB_API int sdk_timer2_del_handler(Timer2_Handle hdl, Timer2_Action action);
/** Waits up to 10 s for the actions to be deleted, stops the watcher, frees
 * any actions still registered and the handle. 0, or -1 for a null handle.
 * Called from a handler, it returns at once: no further handler runs, and
 * the watcher frees everything once the handler has returned. */
QB_API int sdk_timer2_deinit(Timer2_Handle hdl);

QB_END_DECLS

#endif /* SDK_TIMER2_H */
