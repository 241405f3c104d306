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

// Starts a url-and-port transport from the file; its handle, or null when the
// file is unreadable or the start fails.
void* start_from_config(const char* path, const char* tag, const char* missing_line, void* (*start)(char* url, int port));

}  // namespace qb::dc
