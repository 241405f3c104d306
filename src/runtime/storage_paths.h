// Path rules shared by the storage backends. Ids, port ids and file names
// arrive from peers (a location text travels in a message), so each is
// checked before it becomes part of a path, and a path that does not fit its
// buffer is refused rather than cut into a different file.
#pragma once

#include <cstddef>

namespace qb::storage {

constexpr size_t kPathSize = 1024;

// One directory entry name: non-empty, no "/", not "." or "..", no CR or LF.
bool is_component(const char* s);
// "studio/" followed by one or more components joined by "/".
bool is_location(const char* url);
// A path below a root: at least one component; no "." or ".." components and
// no CR or LF. Empty components (repeated or leading "/") are harmless here.
bool is_relative(const char* path);

// Logs "Invalid <what>" under tag and returns false unless s is a component
// (or null where null is allowed).
bool check_component(const char* tag, const char* what, const char* s, bool may_be_null);
bool check_location(const char* tag, const char* url);
bool check_relative(const char* tag, const char* path);

// The request id of a temporary-file save: request_id itself, or a fresh
// UUID written into uuid (UUID4_LEN bytes) when it is null. Null after an
// error line when the request id, port id (may be null) or file name is not
// a valid component.
const char* save_request(const char* tag, const char* request_id, const char* port_id, const char* file_name,
                         char* uuid);

// snprintf into buf; logs and returns false when the result would not fit.
bool build_path(const char* tag, char* buf, size_t size, const char* fmt, ...) __attribute__((format(printf, 4, 5)));

// Heap copy of path without its last component (whole when it has no "/"
// after the first character), or null when memory runs out.
char* location_of(const char* studio_path);

}  // namespace qb::storage
