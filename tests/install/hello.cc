// A C++ program built against the installed library, with its C++ API.
#include <cstdlib>
#include <string>

#include "quorbit.hpp"
#include "sdk_utility.h"

int main() {
    char* tz = os_get_timezone();
    if (!tz) return 1;
    std::string zone(tz);
    free(tz);
    auto cfg = qb::ConfigStore::create();
    if (!cfg || !cfg->load_text("[hello]\ntag=HELLO_CXX\n")) return 1;
    auto tag = cfg->get("hello", "tag");
    if (!tag) return 1;
    return LOGI(tag->c_str(), "timezone %s", zone.c_str()) == 0 ? 0 : 1;
}
