/*
 * A component that answers each request with its input on port out1.
 * On the platform it reads its parameters from QB_PARAM (a Base64 argument
 * line) or QB_* variables and talks to Redis; without them it runs
 * stand-alone and takes requests as JSON on the local WebSocket port 10000.
 * It runs until SIGINT or SIGTERM.
 * The optional parameter --work-ms makes each request take that long, to
 * show how instances sharing the consumer group divide the work. With
 * --mq-delivery at-least-once a request survives the death of the instance
 * that was handling it. On stopping it prints the queue's counters.
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "qb_env.h"
#include "qb_mq.h"
#include "sdk_logger.h"

static const char* TAG = "ECHO_COMPONENT";

static void on_request(Qb_mq mq, char* port_name, char* data, char* request_id, void* user) {
    const long* work_ms = user;
    if (*work_ms > 0) {
        struct timespec ts = {*work_ms / 1000, (*work_ms % 1000) * 1000000L};
        nanosleep(&ts, NULL);
    }
    if (qb_mq_send(mq, "out1", data, request_id) != 0) LOGE(TAG, "answer to %s on %s failed", request_id, port_name);
}

int main(void) {
    /* Blocked before the queue starts, so its thread inherits the mask and
     * the signals wait for sigwait below. */
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, NULL);

    long work_ms = 0;
    char* work = qb_get_env("--work-ms");
    if (work) {
        work_ms = atol(work);
        free(work);
    }
    Qb_mq mq = qb_mq_init();
    if (!mq || qb_mq_register_callback(mq, on_request, &work_ms) != 0) {
        LOGE(TAG, "message queue unavailable");
        if (mq) qb_mq_deinit(mq);
        return 1;
    }
    if (quorbit_valid()) {
        char* node = qb_get_env("--node-id");
        LOGI(TAG, "echoing requests as node %s", node ? node : "?");
        free(node);
    } else {
        LOGI(TAG, "stand-alone: echoing requests sent as JSON to ws://localhost:10000");
    }

    int sig = 0;
    sigwait(&stop, &sig);
    LOGI(TAG, "stopping on signal %d", sig);
    qb_mq_stats s;
    if (qb_mq_get_stats(mq, &s) == 0)
        printf("counters requests=%llu answers=%llu triggers=%llu send_failures=%llu reconnections=%llu "
               "redeliveries=%llu dead_lettered=%llu callback_p50_us=%u callback_p99_us=%u\n",
               s.requests, s.answers, s.triggers, s.send_failures, s.reconnections, s.redeliveries, s.dead_lettered,
               s.callback_p50_us, s.callback_p99_us);
    return qb_mq_deinit(mq) == 0 ? 0 : 1;
}
