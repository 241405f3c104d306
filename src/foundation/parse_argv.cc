#include <cstdlib>
#include <cstring>

#include "foundation/parse_argv_internal.h"
#include "parse_argv.h"

extern "C" {

QB_API int parse_argv(char* str, int* argc, char** argv, int number) {
    if (!argc || !argv) return -1;
    *argc = 0;
    if (!str) return 0;
    bool new_word = true;
    for (char* p = str; *p; ++p) {
        if (*p == '\r' || *p == '\n') {
            *p = '\0';
            break;
        }
        if (*p == ' ' || *p == '\t') {
            *p = '\0';
            new_word = true;
            continue;
        }
        // Past the word limit the rest of the text stays unsplit.
        if (*argc >= number) break;
        if (new_word) {
            argv[(*argc)++] = p;
            new_word = false;
        }
    }
    return 0;
}

char* parse_args(char* str, char* config_name) {
    if (!str || !config_name) return nullptr;
    // On the heap: 8 KB of pointers is a lot for the stacks of library threads.
    char** argv = static_cast<char**>(calloc(qb::MAX_ARGS, sizeof(char*)));
    if (!argv) return nullptr;
    int argc = 0;
    parse_argv(str, &argc, argv, qb::MAX_ARGS);
    char* value = nullptr;
    for (int i = 0; i + 1 < argc; ++i) {
        if (strcmp(argv[i], config_name) == 0) {
            value = argv[i + 1];
            break;
        }
    }
    free(argv);
    return value;
}

int num_strchr(const char* str, char c) {
    if (!str) return -1;
    const char* p = strchr(str, c);
    return p ? static_cast<int>(p - str) : -1;
}

}  // extern "C"
