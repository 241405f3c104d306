// Feeds arbitrary bytes to the INI loader, then writes and dumps what was stored.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_file.h"
#include "sdk_logger.h"

namespace {
// Writes the store into a heap block of exactly size bytes, so ASan sees any overrun.
bool write_n(void* h, size_t size, std::string& out) {
    char* buf = static_cast<char*>(malloc(size));
    buf[0] = '\0';
    bool ok = Config_Buffer_Write_N(h, buf, static_cast<int>(size)) == 0;
    if (ok) out = buf;
    free(buf);
    return ok;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        sdk_set_log_level(SDK_LOG_LEVEL_NONE);
        return true;
    }();
    (void)quiet;
    if (size > 1 << 20) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);

    void* h = Config_Init();
    Config_Buffer_Load(h, text.data());

    std::string first;
    write_n(h, size / 2 + 1, first);  // usually refused, never overrun
    if (write_n(h, 2 * size + 64, first)) {
        // Stored text reloads to a fixed point after one pass (sections that
        // hold only empty keys write a bare header that loads as nothing).
        std::string second, third;
        Config_Buffer_Load(h, first.data());
        if (write_n(h, first.size() + 1, second)) {
            Config_Buffer_Load(h, second.data());
            if (!write_n(h, second.size() + 1, third) || third != second) abort();
        }
    }

    char* json = nullptr;
    if (Config_Dump_Section_Json(h, &json) == 0) free(json);
    int sections = Config_Section_Get_Count(h);
    for (int i = 0; i <= sections; ++i) {
        char* name = Config_Section_Get_At(h, i);
        if (!name) continue;
        if (Config_Dump_Entry_Json(h, name, &json) == 0) free(json);
        int entries = Config_Get_Count(h, name);
        for (int j = 0; j < entries; ++j) {
            char* key = Config_Item_Get_Key_At(h, name, j);
            char* val = Config_Item_Get_Val_At(h, name, j);
            if (!key || !val || Config_Get_Ptr(h, name, key) != val) abort();
        }
    }
    Config_Close(h);
    return 0;
}
