// Static files: only regular files whose real path lies under webroot.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "net/http/server/http_internal.h"

namespace qb::http {

Response::~Response() { free(body); }

void Response::set_header(const char* name, const char* value) noexcept {
    try {
        if (strcasecmp(name, "Set-Cookie") != 0) {
            for (auto& h : headers) {
                if (strcasecmp(h.first.c_str(), name) == 0) {
                    h.second = value;
                    return;
                }
            }
        }
        headers.emplace_back(name, value);
    } catch (...) {
        out_of_memory = true;
    }
}

void Response::append(const char* data, size_t n) {
    if (n == 0 || out_of_memory) return;
    if (n > cap - len) {
        size_t want = cap ? cap : 1024;
        while (want - len < n) {
            if (want > SIZE_MAX / 2) {
                out_of_memory = true;
                return;
            }
            want *= 2;
        }
        char* grown = static_cast<char*>(realloc(body, want));
        if (!grown) {
            out_of_memory = true;
            return;
        }
        body = grown;
        cap = want;
    }
    memcpy(body + len, data, n);
    len += n;
}

void Response::adopt(char* data, size_t n) {
    if (len == 0 && !out_of_memory) {
        free(body);
        body = data;
        len = cap = n;
        return;
    }
    append(data, n);
    free(data);
}

bool read_webroot_file(const char* name, char** data, size_t* len) {
    char root[PATH_MAX], real[PATH_MAX];
    if (!realpath("webroot", root) || !realpath(name, real)) return false;
    size_t root_len = strlen(root);
    bool inside = strcmp(root, "/") == 0 || (strncmp(real, root, root_len) == 0 && real[root_len] == '/');
    if (!inside) return false;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat refuses it next.
    int fd = open(real, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > INT_MAX) {
        close(fd);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    char* buf = static_cast<char*>(malloc(size ? size : 1));
    size_t got = 0;
    while (buf && got < size) {
        ssize_t n = read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (!buf || got != size) {  // a file that shrank meanwhile is not served half
        free(buf);
        return false;
    }
    *data = buf;
    *len = size;
    return true;
}

}  // namespace qb::http
