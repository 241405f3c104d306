// The configuration file every channel module reads: a JSON object with
// "url", "username", "password" (strings) and "port" (integer).
#pragma once

namespace qb::dc {

struct config {
    char* url;
    char* username;
    char* password;
    int port;
};

// Absent members stay empty; an unreadable file logs missing_line under tag.
void read_config(const char* path, const char* tag, const char* missing_line, config* out);
void free_config(config* c);

}  // namespace qb::dc
