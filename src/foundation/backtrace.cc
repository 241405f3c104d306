#include <execinfo.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

#include "sdk_os.h"

namespace {
constexpr int kMaxFrames = 10;
}  // namespace

extern "C" {

QB_API void sdk_backtrace(void) {
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    char** symbols = backtrace_symbols(frames, count);
    printf("---------------------\nObtained %zd stack frames.\n", static_cast<ssize_t>(count));
    // Without symbols (out of memory) the frame count alone still helps.
    for (int i = 0; symbols && i < count; ++i) printf("%s\n", symbols[i]);
    printf("---------------------\n");
    fflush(stdout);
    free(symbols);
}

}  // extern "C"
