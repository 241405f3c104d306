#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/big_alloc.h"
#include "foundation/file_space.h"
#include "sdk_file_ops.h"
#include "sdk_logger.h"
#include "sdk_string.h"

namespace {
constexpr const char* TAG = "file_ops";
constexpr size_t kCopyBlock = size_t{128} << 10;
// One kernel copy call moves at most this much; it loops until the end.
constexpr size_t kKernelCopyChunk = size_t{1} << 30;

// Opens a regular file and measures it. A directory opens fine with "rb" on
// Linux but reports a bogus size, so anything that is not a regular file is
// refused here rather than read. Returns the open stream or null (logged
// unless quiet); *len receives the length.
FILE* open_measured(const char* op, const char* name, long* len, bool quiet) {
    FILE* fp = name ? fopen(name, "rb") : nullptr;
    if (!fp) {
        if (!quiet) LOGE(TAG, "[%s]Unable to open file %s", op, name ? name : "(null)");
        return nullptr;
    }
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (!quiet) LOGE(TAG, "[%s]%s is not a regular file", op, name);
        fclose(fp);
        return nullptr;
    }
    long n = -1;
    if (fseek(fp, 0, SEEK_END) == 0) n = ftell(fp);
    if (n < 0 || fseek(fp, 0, SEEK_SET) != 0) {
        if (!quiet) LOGE(TAG, "[%s]Unable to measure file %s, errno=%d", op, name, errno);
        fclose(fp);
        return nullptr;
    }
    if (n > INT_MAX) {
        if (!quiet) LOGE(TAG, "[%s]File %s is too large (%ld bytes)", op, name, n);
        fclose(fp);
        return nullptr;
    }
    *len = n;
    return fp;
}

// Reads exactly len bytes; a file that shrank meanwhile is a failure, not data.
bool read_exact(const char* op, const char* name, FILE* fp, char* buf, long len, bool quiet) {
    size_t got = len > 0 ? fread(buf, 1, static_cast<size_t>(len), fp) : 0;
    if (got == static_cast<size_t>(len)) return true;
    if (!quiet) LOGE(TAG, "[%s]Short read of file %s (%zu of %ld bytes)", op, name, got, len);
    return false;
}

// Whole regular file as a zero-terminated heap block, or null.
char* read_text(const char* op, const char* name, bool quiet) {
    long len = 0;
    FILE* fp = open_measured(op, name, &len, quiet);
    if (!fp) return nullptr;
    // Every byte but the terminator is read from the file, so no zero fill.
    char* text = static_cast<char*>(qb::big_alloc(static_cast<size_t>(len) + 1));
    if (!text) {
        if (!quiet) LOGE(TAG, "[%s]Memory error!", op);
        fclose(fp);
        return nullptr;
    }
    bool ok = read_exact(op, name, fp, text, len, quiet);
    fclose(fp);
    if (!ok) {
        free(text);
        return nullptr;
    }
    text[len] = '\0';
    return text;
}

// fclose flushes the stdio buffer, so ENOSPC or EIO often shows only here.
int finish_write(const char* op, const char* name, FILE* fp, bool write_ok) {
    int close_rc = fclose(fp);
    if (write_ok && close_rc == 0) return 0;
    LOGE(TAG, "[%s]file %s couldn't be written, errno=%d", op, name, errno);
    return -1;
}

void log_mkdir_error(const char* dir, int err) {
    char buf[256];
    LOGE(TAG, "[%s]error while trying to create '%s'\n%s\n", "rek_mkdir", dir, strerror_r(err, buf, sizeof buf));
}

// Creates every prefix ending before a "/" and then the whole text, shortest
// first. Iterative, so a path made of many slashes cannot exhaust the stack.
void rek_mkdir(char* path, mode_t mode) {
    for (char* p = path; *p; ++p) {
        if (*p != '/' || p == path) continue;
        *p = '\0';
        if (mkdir(path, mode) != 0 && errno != EEXIST) log_mkdir_error(path, errno);
        *p = '/';
    }
    if (*path && mkdir(path, mode) != 0 && errno != EEXIST) log_mkdir_error(path, errno);
}

// Errors after which a slower way may still work (another file system, a
// kind of file or a kernel that the faster call does not handle).
bool try_slower(int err) {
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

bool write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Copies the rest of in to out. copy_file_range keeps the bytes in the kernel
// (or lets the file system share or copy them itself); sendfile works across
// file systems; read and write work for anything else. Each way carries on
// from where the one before stopped, since all use the file positions.
bool copy_fd(int in, int out) {
    struct stat st;
    // Files that report no size (procfs, for one) copy as empty through the kernel paths.
    bool kernel = fstat(in, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    bool range = kernel;
    off_t copied = 0;
    while (kernel) {
        ssize_t n = range ? copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0)
                          : sendfile(out, in, nullptr, kKernelCopyChunk);
        if (n > 0) {
            copied += n;
            continue;
        }
        // An end before the size seen at the start may be a file system the
        // kernel copy cannot read (some report 0): read/write decides.
        if (n == 0 && copied >= st.st_size) return true;
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (!try_slower(errno)) return false;
        if (range)
            range = false;
        else
            kernel = false;
    }
    char* block = static_cast<char*>(malloc(kCopyBlock));
    if (!block) return false;
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, block, kCopyBlock);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!write_all(out, block, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    int err = errno;
    free(block);
    errno = err;
    return ok;
}
}  // namespace

extern "C" {

QB_API int File_Len(char* file_name) {
    FILE* fp = file_name ? fopen(file_name, "rb") : nullptr;
    if (!fp) {
        LOGE(TAG, "[%s]Unable to open file %s", "File_Len", file_name ? file_name : "(null)");
        return 0;
    }
    long n = -1;
    if (fseek(fp, 0, SEEK_END) == 0) n = ftell(fp);
    fclose(fp);
    // A length that cannot be measured or does not fit the result counts as unusable.
    if (n < 0 || n > INT_MAX) return 0;
    return static_cast<int>(n);
}

QB_API int File_Exists(const char* filename) {
    FILE* fp = filename ? fopen(filename, "r") : nullptr;
    if (!fp) return 0;
    fclose(fp);
    return 1;
}

QB_API int File_Read_Binary(char* file_name, char** buffer_out, int* size) {
    constexpr const char* op = "File_Read_Binary";
    if (!buffer_out || !size) {
        LOGE(TAG, "[%s]Null argument", op);
        return -1;
    }
    long len = 0;
    FILE* fp = open_measured(op, file_name, &len, false);
    if (!fp) return -1;
    *size = static_cast<int>(len);
    char* data = static_cast<char*>(qb::big_alloc(static_cast<size_t>(len) + 1));
    if (!data) {
        LOGE(TAG, "[%s]Memory error!", op);
        fclose(fp);
        return -1;
    }
    bool ok = read_exact(op, file_name, fp, data, len, false);
    fclose(fp);
    if (!ok) {
        free(data);
        return -1;
    }
    data[len] = '\0';  // text consumers may rely on a terminator
    *buffer_out = data;
    return 0;
}

QB_API char* File_Read_String(char* file_name) { return read_text("File_Read_String", file_name, false); }

QB_API int File_Write(char* file_name, char* buffer, int buffer_size) {
    constexpr const char* op = "File_Write";
    if (buffer_size < 0 || (!buffer && buffer_size > 0)) {
        LOGE(TAG, "[%s]Invalid buffer for file %s", op, file_name ? file_name : "(null)");
        return -1;
    }
    FILE* fp = file_name ? fopen(file_name, "wb") : nullptr;
    if (!fp) {
        LOGE(TAG, "[%s]file %s couldn't be opened, errno=%d", op, file_name ? file_name : "(null)", errno);
        return -1;
    }
    qb::reserve_file_space(fileno(fp), static_cast<uint64_t>(buffer_size));
    size_t n = buffer_size > 0 ? fwrite(buffer, 1, static_cast<size_t>(buffer_size), fp) : 0;
    bool ok = n == static_cast<size_t>(buffer_size);
    if (finish_write(op, file_name, fp, ok) != 0) return -1;
    return buffer_size;
}

QB_API int File_Append_String(char* file_name, char* buffer) {
    constexpr const char* op = "File_Append_String";
    if (!buffer) return -1;
    FILE* fp = file_name ? fopen(file_name, "a") : nullptr;
    if (!fp) {
        // Announced on standard output, not through the logger.
        printf("[%s]file %s couldn't be opened\n", op, file_name ? file_name : "(null)");
        fflush(stdout);
        return -1;
    }
    size_t len = strlen(buffer);
    if (len > INT_MAX) {
        fclose(fp);
        return -1;
    }
    size_t n = len > 0 ? fwrite(buffer, 1, len, fp) : 0;
    if (finish_write(op, file_name, fp, n == len) != 0) return -1;
    return static_cast<int>(len);
}

QB_API int File_Copy(char* src, char* dest) {
    // Both are opened before the check: a missing source still truncates dest.
    int in = src ? open(src, O_RDONLY | O_CLOEXEC) : -1;
    int out = dest ? open(dest, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666) : -1;
    if (in < 0 || out < 0) {
        if (in >= 0) close(in);
        if (out >= 0) close(out);
        return -1;
    }
    bool ok = copy_fd(in, out);
    int err = errno;
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) LOGE(TAG, "[%s]copying %s to %s failed, errno=%d", "File_Copy", src, dest, err);
    return ok ? 0 : -1;
}

QB_API int File_Delete(char* path) {
    if (!path || remove(path) != 0) {
        LOGE(TAG, "[%s]Unable to delete the file %s", "File_Delete", path ? path : "(null)");
        return -1;
    }
    return 0;
}

QB_API int File_Mkdir(char* path, int mode) {
    if (!path) return 0;
    const char* last = strrchr(path, '/');
    if (!last) return 0;
    size_t n = static_cast<size_t>(last - path);
    char* dir = static_cast<char*>(malloc(n + 1));
    if (!dir) return 0;
    memcpy(dir, path, n);
    dir[n] = '\0';
    rek_mkdir(dir, static_cast<mode_t>(mode));
    free(dir);
    return 0;
}

QB_API int File_Replace_String(char* filename_src, char* filename_dst, char* orig_word, char* replace_word) {
    constexpr const char* op = "File_Replace_String";
    if (!orig_word || !*orig_word) return -1;
    char* text = read_text(op, filename_src, true);
    if (!text) {
        LOGE(TAG, "[%s]File %s does not exist", op, filename_src ? filename_src : "(null)");
        return -1;
    }
    char* result = sdk_str_replace(text, orig_word, replace_word ? replace_word : "");
    free(text);
    if (!result) return -1;
    size_t len = strlen(result);
    int rc = len > INT_MAX ? -1 : File_Write(filename_dst, result, static_cast<int>(len));
    free(result);
    return rc < 0 ? -1 : 0;
}

}  // extern "C"
