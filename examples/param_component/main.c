/*
 * A component that reads its parameters and logs them. Stand-alone it reads
 * qb_env.ini (section "env") in its working directory; on the platform it
 * reads QB_PARAM (a Base64 argument line) or QB_* variables.
 */
#include <stdlib.h>

#include "qb_env.h"
#include "sdk_logger.h"

static const char* TAG = "PARAM_COMPONENT";

int main(void) {
    static const char* keys[] = {
        "--node-id", "--stream-recv-queue", "--stream-send-queue", "--storage-type", "--greeting",
    };
    LOGI(TAG, "running %s", quorbit_valid() ? "on the platform" : "stand-alone");
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        char* value = qb_get_env((char*)keys[i]);
        if (value) {
            LOGI(TAG, "%-20s = %s", keys[i], value);
            free(value);
        } else {
            LOGW(TAG, "%-20s is not set", keys[i]);
        }
    }
    return 0;
}
