/* A C program built against the installed library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Every public header must compile as C11 from the installed folder. */
#include "qb_env.h"
#include "sdk_config.h"
#include "sdk_utility.h"
#ifdef ENABLE_QB_MQ_REDIS
#include "qb_mq_redis.h"
#endif

int main(void) {
    SDK_FiFo f = sdk_fifo_create(2, sizeof(int));
    int in = 42, out = 0;
    if (!f || sdk_fifo_add(f, &in) != 0 || sdk_fifo_get(f, &out) != 0 || out != 42) return 1;
    sdk_fifo_destroy(f);
    Json* doc = Json_from_str("{\"a\":{\"b\":[1,2]}}");
    if (!doc || Json_get_int(doc, (char*)"a.b[1]") != 2) return 1;
    Json_free(doc);
#ifdef ENABLE_QB_MQ_REDIS
    /* The Redis queue's receive loop is part of the API. */
    void* (*recv_loop)(void*) = quorbit_mq_recv_thread;
    if (!recv_loop) return 1;
#endif
    LOGI("HELLO_C", "installed library works (%d)", out);
    return 0;
}
