// Request decoding for the HTTP server that needs no socket or file: form
// bodies, the static-file name of a request path, MIME types, and the header
// values the server composes. Tests and the fuzzer feed these bytes.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace qb::http {

// %XX escapes decoded (and "+" as a blank when plus_is_space); a "%" not
// followed by two hex digits stays as it is.
std::string percent_decode(std::string_view in, bool plus_is_space);

// Each name=value pair of an application/x-www-form-urlencoded text, decoded;
// a pair without "=" has the value "". Empty pairs are skipped.
void decode_form(std::string_view body, const std::function<void(std::string&&, std::string&&)>& pair);

// The file for a GET of raw_path (still percent-encoded, without the query):
// "webroot/<path>" or "webroot/<path>/index.html" for a path ending in "/".
// False (nothing to look up) for a path that does not start with "/", that
// decodes to a NUL or to a ".." segment, or whose name does not fit out_size.
bool static_file_name(std::string_view raw_path, char* out, size_t out_size);

// True when raw_path decodes to a text with a NUL in it.
bool path_has_nul(std::string_view raw_path);

// The type for a file name (first matching substring of the table), or null.
const char* mime_type(const char* file_name);

// "attachment;filename=<name>" in out (out_size >= 1), with control
// characters and quotes dropped and the name cut to fit.
void content_disposition(const char* file_name, char* out, size_t out_size);

// The Set-Cookie value, or "" when key or value cannot be carried.
// timeout > 0: expires timeout seconds after now; 0: already expired;
// negative: a session cookie.
std::string set_cookie(const char* key, const char* value, int timeout, time_t now);

}  // namespace qb::http
