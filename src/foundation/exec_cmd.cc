#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk_logger.h"
#include "sdk_os.h"

namespace {
constexpr const char* TAG = "EXEC_CMD";
constexpr size_t EXEC_CMD_BUFFER = 1024;
constexpr int BUFSIZE = 128;
// Past the cut the rest is drained so that a long command that ends keeps a
// meaningful exit status, but only this far: output that never ends (yes,
// tail -f) must not hold the caller forever.
constexpr size_t kDrainBytes = 16 << 20;
constexpr unsigned kDrainMs = 3000;

// Reads and discards the pipe until its end (true) or the budget is spent.
bool drain(FILE* pipe) {
    const int fd = fileno(pipe);
    const unsigned start = os_time_now_ms();
    size_t drained = 0;
    char sink[4096];
    while (drained < kDrainBytes) {
        const unsigned spent = os_time_now_ms() - start;
        if (spent >= kDrainMs) return false;
        struct pollfd pfd = {fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(kDrainMs - spent));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        ssize_t n = read(fd, sink, sizeof sink);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        drained += static_cast<size_t>(n);
    }
    return false;
}
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
    bool cut_off = false;
    char piece[BUFSIZE];
    while (fgets(piece, sizeof piece, pipe)) {
        size_t len = strlen(piece);
        memcpy(result + held, piece, len + 1);
        held += len;
        if (held + BUFSIZE > EXEC_CMD_BUFFER) {
            LOGD(TAG, "Result too much, end");
            // Past the budget the closed pipe ends the command, which then
            // counts as failed whatever its status.
            cut_off = !drain(pipe);
            if (cut_off) LOGD(TAG, "Output goes on, closing the pipe");
            break;
        }
    }
    int status = pclose(pipe);
    if (status != 0) LOGE(TAG, "program returns error");
    return status == 0 && !cut_off ? result : nullptr;
}

}  // extern "C"
