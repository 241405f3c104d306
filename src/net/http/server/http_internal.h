// Pieces of the HTTP server shared between its files.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace qb::http {

// The answer a request builds up through the Send operations; handed to
// libmicrohttpd once every step has run.
struct Response {
    int code = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    char* body = nullptr;  // malloc'ed
    size_t len = 0;
    size_t cap = 0;
    bool out_of_memory = false;

    Response() = default;
    Response(const Response&) = delete;
    Response& operator=(const Response&) = delete;
    ~Response();
    // Replaces a header of that name (Set-Cookie headers are always added).
    void set_header(const char* name, const char* value) noexcept;
    void append(const char* data, size_t n);
    // Takes over a malloc'ed block as (more) body.
    void adopt(char* data, size_t n);
};

// Reads a regular file that lies inside webroot (symlinks resolved) into a
// malloc'ed block. False for anything else: missing, unreadable, a directory,
// a device, a FIFO, or a path leading out of webroot.
bool read_webroot_file(const char* name, char** data, size_t* len);

}  // namespace qb::http
