// A C++ program built against the installed library.
#include <cstdlib>
#include <string>

#include "qb_env.h"
#include "sdk_utility.h"

int main() {
    char* tz = os_get_timezone();
    if (!tz) return 1;
    std::string zone(tz);
    free(tz);
    return LOGI("HELLO_CXX", "timezone %s", zone.c_str()) == 0 ? 0 : 1;
}
