#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "EXEC_CMD";
constexpr size_t EXEC_CMD_BUFFER = 1024;
constexpr int BUFSIZE = 128;
}  // namespace

extern "C" {

QB_API int exec_cmd(char* cmd) {
    if (cmd) (void)system(cmd);
    return 0;
}

QB_API char* exec_cmd_with_result(char* cmd) {
    thread_local char result[EXEC_CMD_BUFFER + 1];
    if (!cmd) return nullptr;
    FILE* pipe = popen(cmd, "r");
    if (!pipe) {
        LOGE(TAG, "CMD popen failed");
        return nullptr;
    }
    memset(result, 0, sizeof result);
    size_t held = 0;
    char piece[BUFSIZE];
    while (fgets(piece, sizeof piece, pipe)) {
        size_t len = strlen(piece);
        memcpy(result + held, piece, len + 1);
        held += len;
        if (held + BUFSIZE > EXEC_CMD_BUFFER) {
            LOGD(TAG, "Result too much, end");
            // Drain the rest so the command is not killed by a closed pipe
            // and its exit status stays meaningful.
            char sink[4096];
            while (fread(sink, 1, sizeof sink, pipe) > 0) {
            }
            break;
        }
    }
    int status = pclose(pipe);
    if (status != 0) {
        LOGE(TAG, "program returns error");
        return nullptr;
    }
    return result;
}

}  // extern "C"
