// Argument-line helpers used by the environment look-up (not exported).
#pragma once

namespace qb {

// Room parse_args gives parse_argv.
constexpr int MAX_ARGS = 1000;

}  // namespace qb

extern "C" {
// Splits str in place and returns the word (inside str) that follows the first
// word equal to config_name, or null.
char* parse_args(char* str, char* config_name);
// Index of the first c in str, or -1.
int num_strchr(const char* str, char c);
}
