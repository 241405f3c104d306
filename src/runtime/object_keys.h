// Object keys shared by the object-store backends (MinIO, OSS), so that a
// location text written by one node can be read by another whatever store
// it uses. Every caller-supplied piece is checked with the path rules of
// storage_paths.h first: keys end up in URLs and in mc command lines, where
// "." and ".." segments would be resolved to other objects.
#pragma once

#include <cstddef>

#include "runtime/storage_paths.h"

namespace qb::storage {

struct object_owner {
    const char* user;
    const char* app;
    const char* node;
};

// studio/<user>/configs/<app>/<node>[/<port>]/<file> after prefix ("" or
// "<alias>/quorbit/"); false (logged) on a bad port or file or a key too long.
bool config_key(const char* tag, const object_owner& o, const char* prefix, const char* port_id,
                const char* file_name, char (&key)[kPathSize]);
// studio/<user>/tmp/<app>/<request>/<node>[/<port>]/<file>; request_id null
// means a fresh UUID.
bool tmp_key(const char* tag, const object_owner& o, const char* request_id, const char* port_id,
             const char* file_name, char (&key)[kPathSize]);
// <url>/<filename> of a location text returned by a save.
bool tmp_object(const char* tag, const char* url, const char* filename, char (&key)[kPathSize]);

struct wanted_param {
    const char* key;
    bool component;  // must be one path component
};
// Reads n parameters with qb_get_env into out (heap strings). A missing one
// logs "Missing parameter <key>"; on any failure all are freed, out is
// cleared and false returned.
bool read_params(const char* tag, const wanted_param* wanted, size_t n, char** out);

}  // namespace qb::storage
